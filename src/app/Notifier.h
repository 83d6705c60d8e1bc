#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kestrova::app {

/// One desktop notification: shown at once with the default sound.
struct Notification {
  std::string identifier; ///< fresh UUID text per request
  std::string title;      ///< always "Kestrova"
  std::string body;
  /// The files a "Show in Folder" action of the notification shows; none
  /// offers no action.
  std::vector<std::filesystem::path> results;
};

/// The desktop notification service. Both calls return at once and never
/// report the outcome back to the model.
class Notifier {
public:
  virtual ~Notifier() = default;
  virtual void post(const Notification &notification) = 0;
  /// Asks once for permission to show alerts and play sounds. `onError`
  /// receives the error text when the request fails; it may be called on any
  /// thread.
  virtual void requestPermission(std::function<void(const std::string &error)> onError) = 0;
};

} // namespace kestrova::app
