#include "ui/WindowHandOver.h"

#include "ui/QtChild.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <algorithm>
#include <memory>
#include <unistd.h>

namespace kestrova::ui {

namespace {

// Arguments travel NUL-terminated; an empty one ends the message and the
// window answers with kTaken.
constexpr char kEnd = '\0';
constexpr const char *kTaken = "taken\n";

QString absolute(const std::string &path) {
  return QFileInfo(QString::fromStdString(path)).absoluteFilePath();
}

bool complete(const QByteArray &message) {
  return message == QByteArray(1, kEnd) || message.endsWith(QByteArray(2, kEnd));
}

std::vector<std::string> parse(const QByteArray &message) {
  std::vector<std::string> arguments;
  for (const QByteArray &part : message.split(kEnd))
    if (!part.isEmpty())
      arguments.push_back(part.toStdString());
  return arguments;
}

} // namespace

QString windowSocketPath() {
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    folder = QDir::temp().filePath(QString("kestrova-%1").arg(::getuid()));
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  return QDir(folder).filePath("kestrova-window");
}

std::vector<std::string> handOverMessage(const HandedFiles &launch) {
  std::vector<std::string> parts;
  for (const auto &file : launch.files)
    parts.push_back(absolute(file.string()).toStdString());
  if (launch.outputDirectory) {
    parts.emplace_back("--output");
    parts.push_back(absolute(launch.outputDirectory->string()).toStdString());
  }
  return parts;
}

HandedFiles readHandOverMessage(const std::vector<std::string> &parts) {
  // Every file is absolute, so no file reads as the folder's marker.
  HandedFiles handed;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i] == "--output" && i + 1 < parts.size())
      handed.outputDirectory = parts[++i];
    else
      handed.files.emplace_back(parts[i]);
  }
  return handed;
}

bool handToRunningWindow(const std::vector<std::filesystem::path> &files,
                         const std::optional<std::filesystem::path> &outputDirectory, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(windowSocketPath());
  if (!socket.waitForConnected(timeoutMs))
    return false;
  QByteArray message;
  for (const std::string &argument : handOverMessage({files, outputDirectory})) {
    if (argument.empty())
      continue;
    message.append(QByteArray::fromStdString(argument));
    message.append(kEnd);
  }
  message.append(kEnd);
  socket.write(message);
  if (!socket.waitForBytesWritten(timeoutMs))
    return false;
  QByteArray answer;
  while (!answer.endsWith('\n') && socket.waitForReadyRead(timeoutMs))
    answer += socket.readAll();
  return answer == kTaken;
}

WindowServer::WindowServer(std::function<void(const HandedFiles &)> onArguments, QObject *parent)
    : QObject(parent), onArguments_(std::move(onArguments)), server_(qtChild<QLocalServer>(this)) {
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      auto message = std::make_shared<QByteArray>();
      connect(socket, &QLocalSocket::readyRead, this, [this, socket, message] {
        message->append(socket->readAll());
        if (!complete(*message))
          return;
        socket->write(kTaken);
        socket->flush();
        socket->disconnectFromServer();
        onArguments_(readHandOverMessage(parse(*message)));
      });
    }
  });
}

WindowServer::~WindowServer() = default;

bool WindowServer::listen() {
  const QString path = windowSocketPath();
  if (server_->listen(path))
    return true;
  // Nobody answered there (handToRunningWindow failed before this), so the
  // socket file is a crashed window's.
  QLocalServer::removeServer(path);
  return server_->listen(path);
}

} // namespace kestrova::ui
