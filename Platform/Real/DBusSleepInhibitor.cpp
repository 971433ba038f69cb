#include "Platform/Real/DBusSleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>


namespace OrlaqLidar {

bool TDBusSleepInhibitor::Acquire(const std::string& why) {
  if (lock_.isValid()) return true;
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                                     "org.freedesktop.login1.Manager", "Inhibit");
  // Blocks suspend and idle suspend; the session may still lock its screen.
  call << QStringLiteral("sleep:idle") << QStringLiteral("Skyvane") << QString::fromStdString(why)
       << QStringLiteral("block");
  const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, CallTimeoutMs);
  if (!reply.isValid() || !reply.value().isValid()) return false;
  lock_ = reply.value();
  return true;
}

void TDBusSleepInhibitor::Release() {
  // The copy held here is the last one: closing it ends the lock.
  lock_ = QDBusUnixFileDescriptor();
}

}  // namespace OrlaqLidar
