#pragma once

#include "app/Dialogs.h"
#include "app/MainThreadExecutor.h"
#include "app/Notifier.h"
#include "app/Revealer.h"

#include <QObject>
#include <QPointer>
#include <memory>

class QWidget;

namespace kestrova::ui {

/// Posts work onto the Qt GUI thread. Work still queued when the executor
/// is destroyed is dropped, because it is queued against a context object
/// that dies with the executor.
class QtMainThreadExecutor final : public app::MainThreadExecutor {
public:
  QtMainThreadExecutor();
  ~QtMainThreadExecutor() override;
  void post(std::function<void()> work) override;

private:
  std::unique_ptr<QObject> context_;
};

class NotificationCenter;

/// Desktop notifications over org.freedesktop.Notifications, with "Show in
/// Folder" for the files a run wrote. Linux desktops ask no permission; the
/// request only checks that a service exists. Lives on the GUI thread.
class DBusNotifier final : public app::Notifier {
public:
  DBusNotifier();
  ~DBusNotifier() override;
  void post(const app::Notification &notification) override;
  void requestPermission(std::function<void(const std::string &error)> onError) override;

private:
  std::unique_ptr<NotificationCenter> center_;
};

/// Reveal through the file manager's D-Bus interface, else xdg-open.
class DesktopRevealer final : public app::Revealer {
public:
  void reveal(const std::vector<std::filesystem::path> &files) override;
};

/// Qt file and folder choosers parented to the main window.
class QtDialogs final : public app::Dialogs {
public:
  void setParent(QWidget *parent) { parent_ = parent; }
  std::vector<std::filesystem::path> openFiles(const app::OpenFilesRequest &request) override;
  std::optional<std::filesystem::path> chooseDirectory(const app::ChooseDirectoryRequest &request) override;
  bool confirmReplace(const std::vector<std::filesystem::path> &existing) override;

private:
  QPointer<QWidget> parent_;
};

} // namespace kestrova::ui
