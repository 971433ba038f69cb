#include "Platform/Real/QtMainLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

namespace OrlaqLidar {

TQtMainLoop::TQtMainLoop() {
  // A zero-interval timer runs the idle handler whenever the queue is empty.
  idleTimer_.setInterval(0);
  connect(&idleTimer_, &QTimer::timeout, this, [this] {
    if (!idle_ || !idle_()) idleTimer_.stop();
  });
}

TQtMainLoop::~TQtMainLoop() = default;

void TQtMainLoop::Post(std::function<void()> fn) {
  // Queued invocations on one receiver run in posting order.
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

TMainLoop::TTimerId TQtMainLoop::StartTimer(int periodMs, std::function<void()> fn) {
  const TTimerId id = nextId_++;
  auto timer = std::make_unique<QTimer>();
  timer->setTimerType(Qt::PreciseTimer);
  timer->setInterval(periodMs);
  connect(timer.get(), &QTimer::timeout, this, std::move(fn));
  timer->start();
  timers_[id] = std::move(timer);
  return id;
}

void TQtMainLoop::StopTimer(TTimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second->stop();
  // The timer may be stopping itself from its own callback.
  it->second.release()->deleteLater();
  timers_.erase(it);
}

void TQtMainLoop::SetIdleHandler(std::function<bool()> fn) {
  idle_ = std::move(fn);
  if (idle_)
    idleTimer_.start();
  else
    idleTimer_.stop();
}

void TQtMainLoop::Quit(int exitCode) { QCoreApplication::exit(exitCode); }

int TQtMainLoop::Run() { return QCoreApplication::exec(); }

void EnsureQtApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "skyvane";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
}

bool RunQtUntil(const std::function<bool()>& done, int timeoutMs, int pollMs) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(pollMs);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  poll.start();
  loop.exec();
  return done();
}

}  // namespace OrlaqLidar
