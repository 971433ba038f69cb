#pragma once
// The USB link of one virtual device as a Unix-domain stream socket: the
// host connects to open the device, the bytes on the socket are exactly
// the bytes of the link, and a close from this side is the device being
// unplugged. One host at a time; a new connection takes over from the old
// one. Runs its own thread; faults can be injected from any thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "Simulator/SimDevice.h"
#include "Simulator/SimRandom.h"

namespace OrlaqLidar {

class TSimDeviceServer {
 public:
  // faultRate: probability per answer of a random fault.
  TSimDeviceServer(TSimDevice& device, std::filesystem::path socketPath, double faultRate = 0, uint64_t seed = 1);
  ~TSimDeviceServer();
  TSimDeviceServer(const TSimDeviceServer&) = delete;
  TSimDeviceServer& operator=(const TSimDeviceServer&) = delete;

  // Creates the socket and starts serving; false with a message when the
  // socket cannot be made.
  bool Start(std::string* error = nullptr);
  // Closes the connection, removes the socket and joins the thread.
  void Stop();
  bool Running() const { return running_; }

  // Faults, each for the next answers in order.
  void DelayAnswers(int ms, int count = 1);
  void DropAnswers(int count = 1);
  void CorruptAnswers(int count = 1);
  // The next answers carry this payload instead, in the form the query asked for.
  void ReplaceAnswers(const std::string& payload, int count = 1);
  // Line noise sent just ahead of the next answer.
  void InjectGarbage(const std::string& bytes);
  // Bytes sent to the connected host at once.
  void SendNow(const std::string& bytes);
  // Closes the host's connection and stops listening: connection attempts
  // fail until the device is plugged in again, after ms or, with 0, on Replug.
  void Unplug(int ms = 0);
  void Replug();

  bool Plugged() const { return plugged_; }
  bool Connected() const { return connected_; }
  uint64_t Connections() const { return connections_; }
  uint64_t AnswersSent() const { return answersSent_; }
  uint64_t AnswersDropped() const { return answersDropped_; }
  const std::filesystem::path& SocketPath() const { return path_; }
  TSimDevice& Device() { return device_; }

 private:
  void Loop();
  // Runs fn on the server thread (directly when it does not run) and waits.
  void Call(const std::function<void()>& fn);
  void RunCommands();
  void Wake();
  bool OpenListener(std::string* error);
  void CloseListener();
  void Plug();
  void Accept();
  void CloseClient();
  void ReadClient(uint8_t* buffer, size_t size);
  void Queue(TSimDevice::TAnswer&& answer);
  void Flush();

  TSimDevice& device_;
  const std::filesystem::path path_;

  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  int wakeFd_ = -1;
  int listenFd_ = -1;
  int clientFd_ = -1;

  std::mutex mutex_;
  std::condition_variable done_;
  std::deque<std::function<void()>> commands_;
  uint64_t commandsQueued_ = 0;
  uint64_t commandsDone_ = 0;
  // Pending faults, guarded by mutex_.
  int dropCount_ = 0;
  int corruptCount_ = 0;
  int delayCount_ = 0;
  int delayMs_ = 0;
  int replaceCount_ = 0;
  std::string replacePayload_;
  std::string garbage_;

  // Server thread only.
  std::deque<TSimDevice::TAnswer> pending_;
  std::deque<std::string> out_;
  size_t outOffset_ = 0;
  uint64_t replugAtUs_ = 0;
  double faultRate_;
  TSimRandom faultRng_;

  std::atomic<bool> plugged_{false};
  std::atomic<bool> connected_{false};
  std::atomic<uint64_t> connections_{0};
  std::atomic<uint64_t> answersSent_{0};
  std::atomic<uint64_t> answersDropped_{0};
};

}  // namespace OrlaqLidar
