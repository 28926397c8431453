#pragma once

// Test-only switches in front of the file operations' system calls (platform/SysCalls.h), so
// tests can make any one of them fail. Built into the tests' support library, never into the
// program; linking it puts the seam in place, and unarmed each call is only counted.

#include "platform/SysCalls.h"

#include <functional>
#include <string>

namespace ztv {

namespace faults {

using Op = sys::Call;
inline constexpr int kOpCount = sys::kCallCount;

// From now on, the nth call (1-based, counted from this arm) of op fails with errno err and
// does nothing. err 0 on Write makes that write a short write of half the bytes (at least
// one), which the callers must carry on from. Several arms may be active at once.
void arm(Op op, int nth, int err);
// err for Write: that write lands whole but with one byte changed, as a failing disk may
// store it; only a read-back from the disk can tell.
inline constexpr int kFlipByte = -1;
void disarm(); // drops every arm, keeps the counters
void reset(); // drops every arm, zeroes the counters, removes the hook and the forcing
int calls(Op op); // calls of op since the last reset

// Called before each wrapped call with its op and its 1-based count since the last reset;
// a test helper uses it to stop in the middle of a copy. Runs on the calling thread.
void setHook(std::function<void(Op, int)> hook);

// Makes the file operations treat every folder as lying on a case-insensitive file system
// (true), as case-sensitive (false), or detect it (reset).
void forceCaseInsensitive(bool on);
int caseInsensitiveForcing(); // -1 detect, 0 sensitive, 1 insensitive

// Makes the trash take this folder as the top of every file's file system and pass over the
// home trash, as it does for a file on another disk than the home folder (a test cannot mount
// one). Empty: both as the system has them. Cleared by reset.
void forceTrashTop(const std::string& folder);
std::string trashTopForcing();

} // namespace faults

} // namespace ztv
