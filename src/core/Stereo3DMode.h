#pragma once

#include <string>

namespace kestrova {

/// How the two eyes are carried in a source. Only the MVC single-track and
/// frame-alternate layouts carry data (`rightFirst`); equality ignores
/// `rightFirst` for the other kinds.
class Stereo3DMode {
public:
  enum class Kind { mvcSingleTrack, mvcSeparateTracks, frameAlternate, sideBySide, none };

  static Stereo3DMode mvcSingleTrack(bool rightFirst) { return {Kind::mvcSingleTrack, rightFirst}; }
  static Stereo3DMode mvcSeparateTracks() { return {Kind::mvcSeparateTracks, false}; }
  static Stereo3DMode frameAlternate(bool rightFirst) { return {Kind::frameAlternate, rightFirst}; }
  static Stereo3DMode sideBySide() { return {Kind::sideBySide, false}; }
  static Stereo3DMode none() { return {Kind::none, false}; }

  Kind kind() const { return kind_; }
  /// The eye order of the two kinds that carry it; false for every other kind.
  bool rightFirst() const { return carriesEyeOrder() && rightFirst_; }
  bool carriesEyeOrder() const { return kind_ == Kind::mvcSingleTrack || kind_ == Kind::frameAlternate; }

  /// The default textual form: the case name, with the data for the kinds
  /// that carry it, e.g. "mvcSingleTrack(rightFirst: true)" or "sideBySide".
  std::string text() const;

  friend bool operator==(const Stereo3DMode &a, const Stereo3DMode &b) {
    return a.kind_ == b.kind_ && a.rightFirst() == b.rightFirst();
  }

private:
  Stereo3DMode(Kind kind, bool rightFirst) : kind_(kind), rightFirst_(rightFirst) {}
  Kind kind_;
  bool rightFirst_;
};

} // namespace kestrova
