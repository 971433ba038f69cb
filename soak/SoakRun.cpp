#include "soak/SoakRun.h"

#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <deque>
#include <memory>
#include <set>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "Common/StringUtils.h"
#include "Config/LidarConfig.h"
#include "Common/FileUtils.h"
#include "Export/ExportSession.h"
#include "Platform/Clock.h"
#include "Platform/FakeSocketFactory.h"
#include "Platform/FakeUsbDriver.h"
#include "Platform/ManualLoop.h"
#include "Platform/Services.h"
#include "Simulator/SimInstrument.h"
#include "app/HeadlessRunner.h"
#include "app/ProfileStatus.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarAcquisition.h"
#include "kernel/LidarApplication.h"
#include "kernel/comm/Airins.h"
#include "kernel/files/LidFileAccess.h"
#include "kernel/files/LidarRecorder.h"
#include "soak/SoakDevices.h"
#include "soak/SoakFullDisk.h"
#include "soak/SoakIns.h"
#include "soak/SoakProcess.h"
#include "soak/SoakRecordings.h"
#include "soak/SoakSchedule.h"
#include "soak/SoakTally.h"

namespace OrlaqLidar {

namespace fs = std::filesystem;

namespace {
constexpr uint64_t DayMs = 24 * TSoakSchedule::HourMs;
constexpr const char* DefinitionName = "SoakInstrument.ini";

double SecondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// The month folder and the end of the file name of an hour's file,
// whatever the serial number: "yyyymm", "_yyyymmdd_hh00.skv2".
std::pair<std::string, std::string> HourFile(long long hour) {
  const TDateTimeParts p = DecodeDateTime(static_cast<double>(hour) / 24.0 + 1e-9);
  char month[16], name[48];
  std::snprintf(month, sizeof month, "%04d%02d", p.Year, p.Month);
  std::snprintf(name, sizeof name, "_%04d%02d%02d_%02d00.skv2", p.Year, p.Month, p.Day, p.Hour);
  return {month, name};
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}
}  // namespace

std::string TSoakRun::DefaultDefinition() {
#ifdef SKYVANE_SOAK_DEFINITION
  return SKYVANE_SOAK_DEFINITION;
#else
  return {};
#endif
}

// Everything one run builds, torn down in reverse order.
class TSoakRun::TSession {
 public:
  TSession(TSoakRun& run, fs::path folder)
      : run_(run),
        o_(run.options_),
        f_(run.figures_),
        folder_(std::move(folder)),
        spanMs_(static_cast<uint64_t>(std::llround(o_.Days * static_cast<double>(DayMs)))),
        clock_(o_.Start),
        services_(TServices{&clock_, &loop_, nullptr, &usb_, &sockets_}) {
    tick0_ = clock_.TickMs();
  }

  ~TSession() {
    fullDisk_.Set(false);
    TearDown();
  }

  bool SetUp();
  void RunSpan();
  void Shutdown();
  void Evaluate();

 private:
  void EvaluateExports(long long firstHour, long long lastHour);
  struct TEvent {
    uint64_t AtMs;
    std::function<void()> Action;
  };
  uint64_t Elapsed() const { return clock_.TickMs() - tick0_; }
  bool LaserOn() const { return source_ && source_->Status.PowerState() == TState::LaserOn; }
  TSoakFigures::TFault& FaultFigure(TSoakFaultKind kind) {
    return f_.Faults[static_cast<size_t>(kind)];
  }
  bool Fail(const std::string& why) {
    run_.error_ = why;
    return false;
  }
  void ScheduleFault(const TSoakFault& fault, std::vector<TEvent>& events);
  void TearDown();

  TSoakRun& run_;
  const TSoakOptions& o_;
  TSoakFigures& f_;
  fs::path folder_;
  uint64_t spanMs_;
  TManualClock clock_;
  TManualLoop loop_{clock_};
  TFakeUsbDriver usb_;
  TFakeSocketFactory sockets_;
  TScopedServices services_;
  uint64_t tick0_ = 0;

  TLidarConfig simConfig_;
  std::unique_ptr<TSimInstrument> sim_;
  std::unique_ptr<TSoakDevices> devices_;
  std::unique_ptr<TSoakIns> ins_;
  std::unique_ptr<TSoakTally> tally_;
  TSoakFullDisk fullDisk_;
  std::vector<TSoakFault> injected_;
  int insRecordId_ = -1;
  std::vector<int> usbKeys_;
  int insAccepted_ = 0;

  TLidarApplication* app_ = nullptr;
  TLidarAcquisition* source_ = nullptr;
  std::ostream quiet_{nullptr};
  // The station's data manager, as the headless program runs it.
  std::unique_ptr<TProfileStatus> profiles_;
  std::unique_ptr<THeadlessRunner> runner_;
  TMainLoop::TTimerId pollTimer_ = 0;

  std::set<long long> laserHours_;  // absolute hours in which records came with the laser on
  long long firstLaserMs_ = -1;
  int watchdogReports_ = 0;
  std::deque<std::string> lastLog_;
};

bool TSoakRun::TSession::SetUp() {
  std::error_code ec;
  fs::create_directories(folder_ / "LidConf", ec);
  const std::string definition = o_.Definition.empty() ? DefaultDefinition() : o_.Definition;
  if (!fs::copy_file(definition, folder_ / "LidConf" / DefinitionName, fs::copy_options::overwrite_existing, ec))
    return Fail("cannot copy the instrument definition " + definition + ": " + ec.message());
  TIniFile ini((folder_ / "LidConf" / DefinitionName).string());
  if (!simConfig_.Load(ini) || simConfig_.Channels.empty())
    return Fail("the instrument definition " + definition + " cannot be simulated");

  TSimOptions simOptions;
  simOptions.Seed = o_.Seed;
  simOptions.Now = [this] { return clock_.NowUTC(); };
  sim_ = std::make_unique<TSimInstrument>(simConfig_, simOptions);
  usb_.SetInlineReading({200, true});
  devices_ = std::make_unique<TSoakDevices>(*sim_, usb_, clock_, loop_);
  for (int i = 0; i < devices_->Count(); ++i) usbKeys_.push_back(devices_->Key(i));
  ins_ = std::make_unique<TSoakIns>(sockets_, loop_, clock_, o_.InsRateHz);

  std::vector<int> ids;
  for (const auto& c : simConfig_.Channels) ids.push_back(c->RecordID);
  if (simConfig_.Airins) {
    insRecordId_ = simConfig_.AirinsConfig.RecordID;
    ids.push_back(insRecordId_);
  }
  tally_ = std::make_unique<TSoakTally>(o_.Start, spanMs_, ids);
  devices_->OnDelivered = [this](int id) { tally_->Delivered(id, clock_.NowUTC()); };
  ins_->OnDelivered = [this] { tally_->Delivered(insRecordId_, clock_.NowUTC()); };

  TErrorLogger& logger = TErrorLogger::Instance();
  logger.Reset();
  logger.SetSink([this](const std::string& line) {
    ++f_.LogLines;
    if (o_.Log) *o_.Log << line << "\n";
    if (line.find("Laser Watchdog") != std::string::npos) ++watchdogReports_;
    lastLog_.push_back(line);
    if (lastLog_.size() > 20) lastLog_.pop_front();
  });
  logger.Attach(loop_);

  // The application object as the program builds it, on an in-memory store.
  app_ = TLidarApplication::GetInstance();
  auto store = std::make_unique<TIniFile>();
  store->WriteString("Skyvane", "ConfigFolder", (folder_ / "LidConf").string());
  store->WriteString("Skyvane", "DataFolder", (folder_ / "LidData").string());
  store->WriteString("Skyvane", "LogFolder", (folder_ / "LidLog").string());
  store->WriteString("Skyvane", "CurrentInstrument", DefinitionName);
  // The station exports while the laser is on, as the program does.
  store->WriteString("Skyvane", "AutoExport", "1");
  store->WriteString("Skyvane\\Export", "Folder", (folder_ / "ExportData").string());
  app_->SetStore(std::move(store));
  app_->SetAutoExportFactory(OrlaqExport::TExportSession::AutoExportFactory());
  app_->Options.Simulate = true;
  app_->Options.Headless = true;
  app_->Options.ForceAutoPower = true;
  app_->Options.AirinsAddr = "127.0.0.1";
  app_->Options.AirinsPort = "5602";
  app_->LoadConfig();
  std::string why;
  if (!app_->LockDataFolder(why)) return Fail(why);
  app_->Init(true);
  source_ = dynamic_cast<TLidarAcquisition*>(app_->Source());
  if (!app_->DefinitionLoaded() || !source_ || !app_->Recorder())
    return Fail("the application did not start its acquisition");
  app_->SetAutoExport(app_->Config.AutoExport);
  if (run_.OnAttach) run_.OnAttach(*app_);

  source_->AddDataConsumer(this, [this](int, const uint8_t*, int, TDateTime t) {
    if (!LaserOn()) return;
    laserHours_.insert(static_cast<long long>(std::floor(t * 24.0 + 1e-9)));
    if (firstLaserMs_ < 0) firstLaserMs_ = static_cast<long long>(Elapsed());
  });
  profiles_ = std::make_unique<TProfileStatus>(*source_, app_->Config);
  runner_ = std::make_unique<THeadlessRunner>(*source_, app_->Config, loop_, quiet_, false);
  runner_->SetProfileLine([this] { return profiles_->Line(); });
  runner_->Start(0);
  pollTimer_ = loop_.StartTimer(100, [this] { runner_->Poll(); });
  return true;
}

void TSoakRun::TSession::ScheduleFault(const TSoakFault& fault, std::vector<TEvent>& events) {
  const uint64_t end = fault.StartMs + fault.DurationMs;
  const uint64_t judge = end + o_.RecoveryMarginMs;
  if (judge >= spanMs_) return;  // would not be judged inside the span
  injected_.push_back(fault);
  const TSoakFaultKind kind = fault.Kind;
  const int target = fault.Target;
  auto mark = std::make_shared<uint64_t>(0);  // what recovery is measured against
  std::function<void()> begin, finish;
  std::function<bool()> recovered;
  switch (kind) {
    case TSoakFaultKind::LidarUnplug:
    case TSoakFaultKind::MonitorUnplug: {
      const int key = devices_->Key(target);
      begin = [this, target] { devices_->Unplug(target); };
      finish = [this, target, key, mark] {
        devices_->Replug(target);
        *mark = static_cast<uint64_t>(usb_.State(key).Opens);
      };
      recovered = [this, key, mark] { return static_cast<uint64_t>(usb_.State(key).Opens) > *mark && LaserOn(); };
      break;
    }
    case TSoakFaultKind::InsLoss:
      begin = [this] { ins_->SetUp(false); };
      finish = [this, mark] {
        ins_->SetUp(true);
        *mark = static_cast<uint64_t>(ins_->Accepted());
      };
      recovered = [this, mark] {
        return static_cast<uint64_t>(ins_->Accepted()) > *mark && ins_->Connected() && source_->Airins() &&
               source_->Airins()->Status.ConnectState() == TState::Connected;
      };
      break;
    case TSoakFaultKind::LaserWatchdog:
      begin = [this, target, mark] {
        *mark = static_cast<uint64_t>(watchdogReports_);
        sim_->TripLaser(target);
      };
      finish = [] {};
      recovered = [this, target, mark] {
        return static_cast<uint64_t>(watchdogReports_) > *mark && sim_->LaserOn(target) && LaserOn();
      };
      break;
    case TSoakFaultKind::DataFolderFull:
      begin = [this] { fullDisk_.Set(true); };
      finish = [this, mark] {
        fullDisk_.Set(false);
        const TLidFileAccess* file = app_->Recorder()->CurrentFile();
        *mark = file ? file->EndOfData() : 0;
      };
      recovered = [this, mark] {
        const TLidFileAccess* file = app_->Recorder()->CurrentFile();
        return file && file->EndOfData() > *mark;
      };
      break;
  }
  events.push_back({fault.StartMs, [this, kind, begin] {
                      ++FaultFigure(kind).Injected;
                      begin();
                    }});
  events.push_back({end, finish});
  events.push_back({judge, [this, kind, recovered] {
                      if (recovered()) ++FaultFigure(kind).Recovered;
                    }});
  // Records of the whole window may be missing: all of them, or the INS's alone.
  std::vector<int> affected;
  if (kind == TSoakFaultKind::InsLoss) affected.push_back(insRecordId_);
  tally_->FaultWindow(fault.StartMs, judge, affected);
}

void TSoakRun::TSession::RunSpan() {
  for (TSoakFaultKind kind : TSoakSchedule::Kinds) f_.Faults.push_back({TSoakSchedule::KindName(kind), 0, 0});
  std::vector<int> lidarDevices, groups;
  int monitorDevice = -1;
  for (int i = 0; i < sim_->DeviceCount(); ++i) {
    const auto& e = sim_->Entry(i);
    if (e.Lidar) {
      lidarDevices.push_back(i);
      if (std::find(groups.begin(), groups.end(), e.GroupID) == groups.end()) groups.push_back(e.GroupID);
    } else if (monitorDevice < 0) {
      monitorDevice = i;
    }
  }
  std::vector<TEvent> events;
  for (const TSoakFault& fault : TSoakSchedule::Build(spanMs_, lidarDevices, monitorDevice, groups))
    ScheduleFault(fault, events);

  events.push_back({std::min<uint64_t>(TSoakSchedule::HourMs, spanMs_ / 4),
                    [this] { f_.AtBaseline = TSoakProcess::Now(); }});
  auto dayStart = std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
  for (uint64_t day = 1; (day - 1) * DayMs < spanMs_; ++day) {
    const uint64_t at = std::min(day * DayMs, spanMs_);
    events.push_back({at, [this, day, dayStart] {
                        const double wall = SecondsSince(*dayStart);
                        *dayStart = std::chrono::steady_clock::now();
                        f_.WallSecondsPerDay.push_back(wall);
                        if (o_.Progress)
                          *o_.Progress << "soak: day " << day << " done, simulated time "
                                       << FormatDateTime(clock_.NowUTC(), false) << ", " << FormatFixed(wall, 1)
                                       << " s wall, source " << TStatus::PowerText(source_->Status.PowerState())
                                       << ", log lines " << f_.LogLines << std::endl;
                      }});
  }
  std::stable_sort(events.begin(), events.end(), [](const TEvent& a, const TEvent& b) { return a.AtMs < b.AtMs; });
  for (const TEvent& e : events) {
    if (e.AtMs > Elapsed()) loop_.AdvanceMs(e.AtMs - Elapsed());
    e.Action();
  }
  if (spanMs_ > Elapsed()) loop_.AdvanceMs(spanMs_ - Elapsed());
  f_.AtEnd = TSoakProcess::Now();
}

void TSoakRun::TSession::Shutdown() {
  // As on SIGTERM: laser off, disconnect.
  THeadlessRunner::RequestStop();
  for (int i = 0; i < 300 && !runner_->Finished(); ++i) loop_.AdvanceMs(100);
  TearDown();
}

void TSoakRun::TSession::TearDown() {
  if (pollTimer_) loop_.StopTimer(pollTimer_);
  pollTimer_ = 0;
  runner_.reset();
  profiles_.reset();
  if (app_) {
    if (run_.OnDetach && source_) run_.OnDetach(*app_);
    if (source_) source_->RemoveDataConsumer(this);
    source_ = nullptr;
    app_->Exit();
    TLidarApplication::DestroyInstance();
    app_ = nullptr;
  }
  loop_.ProcessPosted();
  if (ins_) insAccepted_ = ins_->Accepted();
  ins_.reset();
  devices_.reset();
  TErrorLogger& logger = TErrorLogger::Instance();
  logger.Detach();
  logger.SetSink(nullptr);
  logger.Reset();
}

// Every hour with the laser on must have exported profiles: the start
// date of each "DP" line (third column, a day number) names its hour.
void TSoakRun::TSession::EvaluateExports(long long firstHour, long long lastHour) {
  std::set<long long> exported;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder_ / "ExportData", ec)) {
    if (!e.is_regular_file() || e.path().extension() != ".txt") continue;
    ++f_.ExportFiles;
    const std::string text = ReadTextFile(e.path()).value_or("");
    for (size_t at = text.find("\nDP;"); at != std::string::npos; at = text.find("\nDP;", at + 1)) {
      ++f_.ExportedProfiles;
      const size_t date = text.find(';', at + 4);
      double day = 0;
      if (date == std::string::npos || std::from_chars(text.data() + date + 1, text.data() + text.size(), day).ec != std::errc())
        continue;
      exported.insert(static_cast<long long>(std::floor(day * 24.0 + 1e-9)));
    }
  }
  for (long long hour : laserHours_)
    if (hour >= firstHour && hour <= lastHour && !exported.count(hour))
      f_.MissingHourExports.push_back(FormatDateTime(static_cast<double>(hour) / 24.0, false));
}

void TSoakRun::TSession::Evaluate() {
  const TDateTime end = o_.Start + static_cast<double>(spanMs_) / MsPerDay;
  f_.Span = FormatDateTime(o_.Start, false) + " to " + FormatDateTime(end, false) + " UTC";
  f_.SimulatedDays = static_cast<double>(spanMs_) / static_cast<double>(DayMs);
  // Until the laser first came on nothing is recorded by design.
  tally_->FaultWindow(0, firstLaserMs_ < 0 ? spanMs_ : static_cast<uint64_t>(firstLaserMs_) + o_.RecoveryMarginMs);

  TApplicationConfig settings;
  std::set<std::string> found;
  const auto files = TSoakRecordings::Files(folder_ / "LidData");
  f_.Files = static_cast<int>(files.size());
  for (const fs::path& file : files) {
    const std::string why = TSoakRecordings::Read(file, settings, *tally_);
    if (!why.empty()) f_.InvalidFiles.push_back(file.filename().string() + ": " + why);
    found.insert(file.parent_path().filename().string() + "/" + file.filename().string());
  }
  const long long firstHour = static_cast<long long>(std::floor(o_.Start * 24.0 + 1e-9));
  const long long lastHour = static_cast<long long>(std::floor(end * 24.0 - 1e-9));
  for (long long hour : laserHours_) {
    if (hour < firstHour || hour > lastHour) continue;
    ++f_.HoursWithLaser;
    const auto [month, name] = HourFile(hour);
    const bool present = std::any_of(found.begin(), found.end(), [&, &month = month, &name = name](const std::string& f) {
      return f.rfind(month + "/", 0) == 0 && EndsWith(f, name);
    });
    if (!present) f_.MissingHourFiles.push_back(month + "/..." + name);
  }
  EvaluateExports(firstHour, lastHour);

  for (const auto& c : simConfig_.Channels) {
    TSoakFigures::TChannel s = tally_->Summary(c->RecordID);
    s.Name = c->Name;
    f_.Channels.push_back(s);
  }
  if (insRecordId_ >= 0) {
    TSoakFigures::TChannel s = tally_->Summary(insRecordId_);
    s.Name = "INS";
    f_.Channels.push_back(s);
  }
  for (int key : usbKeys_) f_.UsbReopens += std::max(0, usb_.State(key).Opens - 1);
  f_.InsReconnects = std::max(0, insAccepted_ - 1);
  f_.WatchdogReports = watchdogReports_;
}

TSoakRun::TSoakRun(TSoakOptions options) : options_(std::move(options)) {}

TSoakRun::~TSoakRun() = default;

bool TSoakRun::Run() {
  figures_ = {};
  error_.clear();
  const auto wallStart = std::chrono::steady_clock::now();
  figures_.AtStart = TSoakProcess::Now();
  fs::path folder = options_.Folder;
  const bool temporary = folder.empty();
  if (temporary) {
    std::string pattern = (fs::temp_directory_path() / "skyvane-soak-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      error_ = "cannot create a temporary folder";
      return false;
    }
    folder = pattern;
  }
  bool ok = false;
  {
    TSession session(*this, folder);
    ok = session.SetUp();
    if (ok) {
      session.RunSpan();
      session.Shutdown();
      session.Evaluate();
    }
  }
  if (temporary) {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
  figures_.WallSeconds = SecondsSince(wallStart);
  return ok;
}

}  // namespace OrlaqLidar
