#include "Export/ExportManager.h"

#include "Common/StringUtils.h"
#include "Config/ApplicationConfig.h"
#include "Export/CfExport.h"
#include "Export/SccExport.h"
#include "Export/TextExport.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarManager.h"

namespace OrlaqExport {

using namespace OrlaqLidar;

namespace {
// A calibration sequence is offered as one long profile: different settings
// make the data manager complete what it holds before the sequence starts.
constexpr int CalibrationProfileTime = 999999;
}  // namespace

TExportManager::TExportManager(TApplicationConfig& settings, TLidarManager* source)
    : settings_(settings), source_(source) {}

TExportManager::~TExportManager() {
  if (dataManager_) {
    dataManager_->FOnManagedDatas = nullptr;
    dataManager_->FOnRawData = nullptr;
    dataManager_->FOnEvent = nullptr;
  }
  // The format closes its file; the data manager then drops a profile
  // still accumulating.
  format_.reset();
  dataManager_.reset();
  calibrationArguments_.reset();
  arguments_.reset();
}

std::unique_ptr<TExportTemplate> TExportManager::CreateFormat(const std::string& type) {
  const std::string t = UpperCase(type);
  if (t.empty() || t == "TEXT") return std::make_unique<TTextExport>();
  if (t == "SCC") return std::make_unique<TSccExport>();
  if (t == "CF") return std::make_unique<TCfExport>();
  return nullptr;
}

bool TExportManager::Start(const TExportParameters* parameters) {
  if (!parameters || dataManager_) return false;
  // The definition and setup are the application's; the processing is the export's.
  arguments_ = std::make_unique<TProcessingArgs>(parameters->Processing, &settings_.LidarConfig, &settings_.Setup);
  format_ = CreateFormat(parameters->Type);
  if (!format_) {
    startError_ = "export type " + parameters->Type + " is not known";
    Log("Unknown export type <" + parameters->Type + ">: nothing exported");
    return false;
  }
  format_->SetArguments(arguments_.get());
  format_->SetFromRecording(source_ && source_->IsReplay());
  format_->SetWorkBehind(workBehind_);
  if (!format_->SetParameters(parameters)) {
    startError_ = format_->Refusal();
    Log("Export refused: " + startError_);
    format_.reset();
    return false;
  }
  dataManager_ = std::make_unique<TDataManager>(arguments_.get(), source_);
  dataManager_->CompletedOnly = true;  // running profiles are never exported
  dataManager_->KeepRawCounts(format_->NeedsRawCounts());
  dataManager_->FOnManagedDatas = [this](const TProfile& p) { OnProfile(p); };
  dataManager_->FOnRawData = [this](int id, const uint8_t* d, int n, TDateTime t) { OnRawData(id, d, n, t); };
  dataManager_->FOnEvent = [this](int s, const std::string& c, TDateTime t, const std::string& m) { OnEvent(s, c, t, m); };
  return true;
}

std::string TExportManager::GetDescription() const { return format_ ? format_->GetDescription() : "no export"; }

void TExportManager::Flush() {
  if (format_) failures_ += format_->Flush();
}

void TExportManager::Failed(const char* text) {
  ++failures_;
  Log(text);
}

void TExportManager::OnProfile(const TProfile& profile) {
  if (!profile || !format_ || profile->Open) return;
  if (!format_->WriteProfile(profile)) Failed("Error sending Profile to export!");
}

void TExportManager::OnRawData(int recordId, const uint8_t* data, int length, TDateTime time) {
  if (!format_ || length < 0) return;
  if (!format_->WriteRawData(recordId, time, data, static_cast<size_t>(length)))
    Failed("Error sending raw data to export!");
}

void TExportManager::OnEvent(int sourceId, const std::string& code, TDateTime time, const std::string& comment) {
  if ((code == "SAP" || code == "SPL") && dataManager_) {
    calibrationArguments_ = std::make_unique<TProcessingArgs>(*arguments_);
    calibrationArguments_->Setup.ProfileTime = CalibrationProfileTime;
    dataManager_->CheckArguments(calibrationArguments_.get());
  } else if ((code == "EAP" || code == "EPL") && calibrationArguments_) {
    if (dataManager_) dataManager_->CheckArguments(arguments_.get());
    calibrationArguments_.reset();
  }
  if (format_ && !format_->WriteEvent(TLidarEvent(time, sourceId, code, comment)))
    Failed("Error sending Event to export!");
}

}  // namespace OrlaqExport
