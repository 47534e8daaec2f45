// Faults of renames that a test asks for, to stop or fail a program at one
// exact step: UPDATE_STANDIN_RENAME_FAULTS holds words "fail@N", "kill@N"
// and "stop@N", separated by commas. The N-th MoveFileExA of the process
// (from 1) then fails with ERROR_SHARING_VIOLATION, as a file that another
// program keeps open does, and so does every later rename of the same
// source (tries again are not counted); or the process is killed (SIGKILL)
// before it renames anything: a run stopped, or its machine cut off, at
// that point; or it stops itself (SIGSTOP) there, and goes on with the
// rename once a test that did something meanwhile sends SIGCONT.
#pragma once

// Counts the call of `source`; true when it is to fail, with the last
// error set.
bool RenameFaultAsked(const char* source);
