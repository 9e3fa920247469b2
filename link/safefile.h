#pragma once

#include <QByteArray>
#include <QString>

namespace zfuse {

// Where a whole-file save may go: a regular file (also through links, followed to their
// end) or a new name in an existing folder. Anything else, a device node, a FIFO, a
// socket, a folder or a link loop, is refused: a save must never replace it. Returns
// the path the file is written to (a link's target), or an empty string when refused.
QString wholeFileTarget(const QString& path);

// Writes `bytes` as the file at `path`, as a whole or not at all: the old file stays
// until the new one is complete on disk. Every write's count is checked, since a short
// write on a full disk can otherwise pass for a success. Where no temporary file can be
// made beside the file (a writable file in a read-only folder) the file is written in
// place. False when refused or failed, with the reason in `error` when it is given (the
// system's words, as the file's error text or errno gives them).
bool saveFileWhole(const QString& path, const QByteArray& bytes, QString* error = nullptr);

}  // namespace zfuse
