// The virtual instrument: serves every lidar and monitoring channel of an
// instrument definition as a device on a local socket, for the program's
// virtual USB backend, until interrupted.
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Common/IniFile.h"
#include "Common/StringUtils.h"
#include "Config/LidarConfig.h"
#include "Simulator/SimInsServer.h"
#include "Simulator/SimInstrument.h"

using namespace OrlaqLidar;

namespace {

const char* const Usage =
    "usage: skyvane-sim <definition.ini> [options]\n"
    "  --devices <file>     where to write the devices file (default: in the socket folder)\n"
    "  --rate-limit off     answer as fast as possible instead of in real time\n"
    "  --lat <deg>          site latitude, north positive (default 48.7)\n"
    "  --lon <deg>          site longitude, east positive (default 2.2)\n"
    "  --seed <n>           seed of the noise and of the weather (default 1)\n"
    "  --no-clouds          clear sky\n"
    "  --shot-ms <ms>       integration time of one shot when paced (default 100)\n"
    "  --laser-hz <hz>      laser pulse frequency (default 10000)\n"
    "  --watchdog <ms>      laser safety cut-out after this long without a query (default off)\n"
    "  --fault-rate <p>     probability per answer of a random fault (default 0)\n"
    "  --ins-port <port>    TCP port of the INS stream on 127.0.0.1 when the definition declares an INS\n"
    "                       (default 1234, 0 = any free port)\n"
    "The devices file path is printed on standard output; SIGINT or SIGTERM stops.\n";

bool Fail(const std::string& text) {
  std::cerr << "skyvane-sim: " << text << "\n";
  return false;
}

struct TArgs {
  std::string Definition;
  std::string Devices;
  TSimOptions Options;
  int InsPort = 1234;
};

bool ParseArgs(const std::vector<std::string>& args, TArgs& out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) return Fail(a + " needs a value");
      v = args[++i];
      return true;
    };
    auto number = [&](double& d) {
      std::string v;
      if (!value(v)) return false;
      const auto n = TryParseDouble(v);
      if (!n) return Fail(a + ": not a number: " + v);
      d = *n;
      return true;
    };
    auto integer = [&](int& d) {
      std::string v;
      if (!value(v)) return false;
      const auto n = TryParseInt(v);
      if (!n || *n < 0) return Fail(a + ": not a whole number: " + v);
      d = *n;
      return true;
    };
    TSimOptions& o = out.Options;
    if (a == "--devices") {
      if (!value(out.Devices)) return false;
    } else if (a == "--rate-limit") {
      std::string v;
      if (!value(v)) return false;
      if (SameText(v, "off"))
        o.RateLimit = false;
      else if (SameText(v, "on"))
        o.RateLimit = true;
      else
        return Fail("--rate-limit takes on or off");
    } else if (a == "--lat") {
      if (!number(o.Latitude)) return false;
    } else if (a == "--lon") {
      if (!number(o.Longitude)) return false;
    } else if (a == "--seed") {
      std::string v;
      if (!value(v)) return false;
      const auto n = TryParseInt64(v);
      if (!n || *n < 0) return Fail("--seed: not a whole number: " + v);
      o.Seed = static_cast<uint64_t>(*n);
    } else if (a == "--no-clouds") {
      o.Clouds = false;
    } else if (a == "--shot-ms") {
      if (!integer(o.ShotPeriodMs)) return false;
    } else if (a == "--laser-hz") {
      if (!number(o.LaserFrequencyHz)) return false;
    } else if (a == "--watchdog") {
      if (!integer(o.WatchdogMs)) return false;
    } else if (a == "--fault-rate") {
      if (!number(o.FaultRate)) return false;
    } else if (a == "--ins-port") {
      if (!integer(out.InsPort)) return false;
      if (out.InsPort > 65535) return Fail("--ins-port: not a port number");
    } else if (!a.empty() && a[0] == '-') {
      return Fail("unknown option " + a);
    } else if (out.Definition.empty()) {
      out.Definition = a;
    } else {
      return Fail("more than one definition file");
    }
  }
  if (out.Definition.empty()) return Fail("no instrument definition given");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const auto& a : args)
    if (a == "--help" || a == "-h") {
      std::cout << Usage;
      return 0;
    }
  TArgs parsed;
  if (!ParseArgs(args, parsed)) {
    std::cerr << Usage;
    return 2;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(parsed.Definition, ec)) {
    Fail("definition file not found: " + parsed.Definition);
    return 1;
  }
  TIniFile ini(parsed.Definition);
  TLidarConfig config;
  if (!config.Load(ini)) {
    Fail("the definition was not accepted: " + parsed.Definition);
    return 1;
  }

  // Signals are taken by sigwait below: block them before any device thread
  // exists, so that every thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // Sockets live in a private folder; the path must stay short.
  std::string folderTemplate = "/tmp/skyvane-sim-XXXXXX";
  if (!mkdtemp(folderTemplate.data())) {
    Fail("cannot create the socket folder");
    return 1;
  }
  const std::filesystem::path folder = folderTemplate;
  const std::filesystem::path devices = parsed.Devices.empty() ? folder / "devices.ini" : std::filesystem::path(parsed.Devices);

  int rc = 0;
  {
    TSimInstrument sim(config, parsed.Options);
    if (sim.DeviceCount() == 0) {
      Fail("the definition has no lidar or monitoring channel");
      rc = 1;
    } else if (!sim.Start(folder, std::filesystem::absolute(devices, ec))) {
      Fail(sim.LastError());
      rc = 1;
    } else {
      std::cout << sim.DevicesFile().string() << std::endl;
      for (int i = 0; i < sim.DeviceCount(); ++i) {
        const auto& e = sim.Entry(i);
        std::cerr << "  " << (e.Lidar ? "lidar   " : "monitor ") << e.RecordID << " \"" << e.Description << "\" "
                  << e.SerialNumber << " " << e.Socket.string() << "\n";
      }
      // The INS stream of an instrument that carries one.
      std::unique_ptr<TSimInsServer> ins;
      if (config.Airins) {
        TSimInsServer::TSettings settings;
        settings.Port = static_cast<uint16_t>(parsed.InsPort);
        settings.Latitude = parsed.Options.Latitude;
        settings.Longitude = parsed.Options.Longitude;
        ins = std::make_unique<TSimInsServer>(settings);
        if (ins->Start())
          std::cerr << "  ins     " << config.AirinsConfig.RecordID << " 127.0.0.1:" << ins->Port() << "\n";
        else
          std::cerr << "skyvane-sim: no INS stream: " << ins->LastError() << "\n";
      }
      std::cerr << "skyvane-sim: serving " << sim.DeviceCount() << " devices"
                << (parsed.Options.RateLimit ? "" : " without rate limit") << "; stop with Ctrl+C\n";
      int sig = 0;
      sigwait(&stopSignals, &sig);
      if (ins) ins->Stop();
      sim.Stop();
    }
  }
  std::filesystem::remove_all(folder, ec);
  return rc;
}
