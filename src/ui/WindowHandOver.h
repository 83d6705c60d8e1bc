#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QLocalServer;

namespace kestrova::ui {

/// The local socket the user's window listens on: kestrova-window in
/// $XDG_RUNTIME_DIR, else in a folder of the user's own in the temporary
/// folder. One window per user: a second launch hands its files over here.
QString windowSocketPath();

/// A launch's arguments (program name first) as the running window takes
/// them: the program name, each file made absolute against the current
/// folder, and "--output" with its folder made absolute when given.
std::vector<std::string> handOverArguments(const std::vector<std::string> &arguments);

/// Hands `arguments` (program name first) to the window running for this
/// user; true when one took them, false when none answers within
/// `timeoutMs` (this launch then opens the window itself).
bool handToRunningWindow(const std::vector<std::string> &arguments, int timeoutMs = 5000);

/// The running window's end of the hand-over: listens on windowSocketPath()
/// and gives each launch's arguments (program name first, files absolute) to
/// `onArguments` on the GUI thread.
class WindowServer : public QObject {
  Q_OBJECT
public:
  explicit WindowServer(std::function<void(std::vector<std::string>)> onArguments, QObject *parent = nullptr);
  ~WindowServer() override;
  /// Starts listening; a socket file nobody answers on (left by a window
  /// that crashed) is replaced. False when the socket cannot be made.
  bool listen();

private:
  std::function<void(std::vector<std::string>)> onArguments_;
  QLocalServer *server_;
};

} // namespace kestrova::ui
