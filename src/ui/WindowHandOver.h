#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLocalServer;

namespace kestrova::ui {

/// The local socket the user's window listens on: kestrova-window in
/// $XDG_RUNTIME_DIR, else in a folder of the user's own in the temporary
/// folder. One window per user: a second launch hands its files over here.
QString windowSocketPath();

/// What a launch hands to the running window: its files and the output
/// folder it named, all absolute.
struct HandedFiles {
  std::vector<std::filesystem::path> files;
  std::optional<std::filesystem::path> outputDirectory;
};

/// The message a launch sends: each file made absolute against the current
/// folder, then "--output" and the folder when one was named; and back.
std::vector<std::string> handOverMessage(const HandedFiles &launch);
HandedFiles readHandOverMessage(const std::vector<std::string> &parts);

/// Hands the files to the window running for this user; true when one took
/// them, false when none answers within `timeoutMs` (this launch then opens
/// the window itself).
bool handToRunningWindow(const std::vector<std::filesystem::path> &files,
                         const std::optional<std::filesystem::path> &outputDirectory, int timeoutMs = 5000);

/// The running window's end of the hand-over: listens on windowSocketPath()
/// and gives each launch's files to `onArguments` on the GUI thread.
class WindowServer : public QObject {
  Q_OBJECT
public:
  explicit WindowServer(std::function<void(const HandedFiles &)> onArguments, QObject *parent = nullptr);
  ~WindowServer() override;
  /// Starts listening; a socket file nobody answers on (left by a window
  /// that crashed) is replaced. False when the socket cannot be made.
  bool listen();

private:
  std::function<void(const HandedFiles &)> onArguments_;
  QLocalServer *server_;
};

} // namespace kestrova::ui
