// The key and values both registry benchmarks measure, so that their figures compare.
#pragma once

namespace quorvane::bench {

// A DWORD that every fresh prefix has, in a key that is no link: the read measured is a plain
// look-up, the kind Quorvane does for each restriction it shows.
inline constexpr char kReadKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
inline constexpr char kReadValue[] = "EnableLUA";
// Where the writes go: a policy key of Quorvane's own, made before the timing starts.
inline constexpr char kWriteParent[] = "Software\\Policies";
inline constexpr char kWriteSubKey[] = "Quorvane Bench";
inline constexpr char kWriteKey[] = "Software\\Policies\\Quorvane Bench";
inline constexpr char kWriteValue[] = "Setting";

}  // namespace quorvane::bench
