#include "Platform/Real/QtTcpSocket.h"

#include <QString>

namespace OrlaqLidar {

namespace {
TSocketState MapState(QAbstractSocket::SocketState s, bool started) {
  switch (s) {
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState: return TSocketState::Connecting;
    case QAbstractSocket::ConnectedState: return TSocketState::Connected;
    case QAbstractSocket::ClosingState: return TSocketState::Closed;
    case QAbstractSocket::UnconnectedState: return started ? TSocketState::Closed : TSocketState::Opened;
    default: return TSocketState::Opened;
  }
}
}  // namespace

TQtTcpSocket::TQtTcpSocket(std::string host, uint16_t port)
    : host_(std::move(host)), port_(port), socket_(std::make_unique<QTcpSocket>()),
      context_(std::make_unique<QObject>()) {
  QObject::connect(socket_.get(), &QAbstractSocket::stateChanged, context_.get(),
                   [this](QAbstractSocket::SocketState s) { StateChanged(s); }, Qt::QueuedConnection);
  QObject::connect(socket_.get(), &QIODevice::readyRead, context_.get(), [this] { ReadyRead(); },
                   Qt::QueuedConnection);
}

TQtTcpSocket::~TQtTcpSocket() {
  *alive_ = false;
  // The connections go first, so that tearing the socket down raises nothing.
  context_.reset();
  socket_->abort();
}

int TQtTcpSocket::ErrorCode(QAbstractSocket::SocketError error) {
  switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return ErrRefused;
    case QAbstractSocket::RemoteHostClosedError: return 0;  // an orderly close
    case QAbstractSocket::HostNotFoundError: return ErrHostNotFound;
    case QAbstractSocket::SocketTimeoutError: return ErrTimeout;
    case QAbstractSocket::NetworkError: return ErrNetwork;
    default: return ErrOther;
  }
}

bool TQtTcpSocket::Connect() {
  if (closedLocally_) return false;
  if (started_) return State() == TSocketState::Connecting || State() == TSocketState::Connected;
  started_ = true;
  socket_->connectToHost(QString::fromStdString(host_), port_);
  const TSocketState s = State();
  return s == TSocketState::Connecting || s == TSocketState::Connected;
}

TSocketState TQtTcpSocket::State() const {
  if (closedLocally_) return TSocketState::Closed;
  return MapState(socket_->state(), started_);
}

int TQtTcpSocket::BytesAvailable() const {
  if (closedLocally_) return 0;
  const qint64 n = socket_->bytesAvailable();
  return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
}

int TQtTcpSocket::Receive(uint8_t* buffer, int size) {
  if (!buffer || size < 0 || closedLocally_) return -1;
  const qint64 n = socket_->read(reinterpret_cast<char*>(buffer), size);
  return n < 0 ? -1 : static_cast<int>(n);
}

int TQtTcpSocket::Send(const uint8_t* data, int length) {
  if (!data || length < 0 || State() != TSocketState::Connected) return -1;
  const qint64 n = socket_->write(reinterpret_cast<const char*>(data), length);
  return n < 0 ? -1 : static_cast<int>(n);
}

void TQtTcpSocket::Close() {
  closedLocally_ = true;
  socket_->close();
}

void TQtTcpSocket::Abort() {
  closedLocally_ = true;
  socket_->abort();
}

void TQtTcpSocket::StateChanged(QAbstractSocket::SocketState qtState) {
  if (Silenced()) return;
  const TSocketState next = MapState(qtState, started_);
  const TSocketState previous = reported_;
  if (next == previous) return;
  reported_ = next;
  // Taken now: the handlers below may destroy this object.
  const int error = ErrorCode(socket_->error());
  std::weak_ptr<bool> alive = alive_;
  if (auto handler = OnStateChange) handler(previous, next);
  if (alive.expired() || Silenced()) return;
  if (next == TSocketState::Connected) {
    if (auto handler = OnConnected) handler(0);
  } else if (next == TSocketState::Closed) {
    if (previous == TSocketState::Connected) {
      if (auto handler = OnClosed) handler(error);
    } else if (auto handler = OnConnected) {
      // The attempt failed before the connection stood.
      handler(error ? error : ErrOther);
    }
  }
}

void TQtTcpSocket::ReadyRead() {
  // Qt signals new bytes once; the handler is called again for as long as
  // bytes remain and it keeps reading them.
  std::weak_ptr<bool> alive = alive_;
  for (;;) {
    if (Silenced() || !OnDataAvailable) return;
    const int before = BytesAvailable();
    if (before == 0) return;
    auto handler = OnDataAvailable;
    handler(0);
    if (alive.expired() || BytesAvailable() >= before) return;
  }
}

}  // namespace OrlaqLidar
