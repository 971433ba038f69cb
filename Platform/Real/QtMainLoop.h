#pragma once
// The main loop on Qt's event loop (QCoreApplication without a display,
// QApplication in the GUI). Must be created on the main thread after the
// Q*Application.
#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

#include "Platform/MainLoop.h"

namespace OrlaqLidar {

class TQtMainLoop : public QObject, public TMainLoop {
  Q_OBJECT
 public:
  TQtMainLoop();
  ~TQtMainLoop() override;

  void Post(std::function<void()> fn) override;
  TTimerId StartTimer(int periodMs, std::function<void()> fn) override;
  void StopTimer(TTimerId id) override;
  void SetIdleHandler(std::function<bool()> fn) override;
  void Quit(int exitCode) override;
  // Runs the Qt event loop until Quit; returns the exit code.
  int Run();

 private:
  std::map<TTimerId, std::unique_ptr<QTimer>> timers_;
  TTimerId nextId_ = 1;
  std::function<bool()> idle_;
  QTimer idleTimer_;
};

// A QCoreApplication for programs that have none of their own (tests,
// benchmarks); created on first call, kept to the end of the process.
void EnsureQtApplication();
// Runs Qt's event loop on this thread until done() holds or timeoutMs has
// passed; returns done(). Never hangs: the loop is left at the deadline.
bool RunQtUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 2);

}  // namespace OrlaqLidar
