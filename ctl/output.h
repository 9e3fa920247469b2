#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

namespace zfuse::ctl {

// Standard output with every write checked. A write that fails (a full file system,
// /dev/full, a closed descriptor) or whose reader went away (the end of a pipe closed by
// `head`) marks the output as failed; nothing more is written to it from then on.
// SIGPIPE must be ignored for the latter to show as a failed write instead of killing
// the program.

// Writes the bytes; false when they did not all go out (now or before).
bool writeOut(const QByteArray& bytes);
// Writes the text as UTF-8: to standard output through the checked output above, to any
// other stream (standard error: diagnostics) as it is.
void writeText(FILE* stream, const QString& text);
// Hands what is buffered to the system; false on a failure.
bool flushOut();
// Whether a write or flush has failed.
bool outputFailed();
// The exit code for the output's failure: kOutputClosed when its reader went away,
// kOutputFailed otherwise; 0 while it has not failed.
int outputExit();

// At the end of a run: flushes standard output (and, for a regular file, has it written
// to the disk, where a full disk may show only then). When the output failed, says why
// on standard error (not for a reader that went away: that is an ordinary end) and
// returns the higher of `exit` and the output's code; else returns `exit`.
int finishOutput(int exit);

}  // namespace zfuse::ctl
