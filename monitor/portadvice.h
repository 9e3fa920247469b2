#pragma once

// The port doctor's advice: who holds a port, what keeps this user from it, which
// adapter to name and how to link it. Shared by the diagnosis and the report.

#include <sys/types.h>

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "link/portlock.h"
#include "monitor/portdoctor.h"

namespace zfuse::doctor {

// The system's text for an error number.
QString systemError(int error);
// The processes that hold each of `devices` open, by device.
QMap<QString, QStringList> holdersOf(const QStringList& devices);
// Who holds `device` open; empty when nobody does.
QString heldBy(const QString& device);
// The devices of the system's consoles.
QStringList consoleDevices();
QString userName(uid_t uid);
QString groupName(gid_t gid);
// Whether this process has the group now, and whether the user is listed in it.
bool inGroupNow(gid_t gid);
bool listedInGroup(gid_t gid);
// What keeps this user from opening `device`, and the fix.
QString permissionAdvice(const QString& device);
// An adapter to name in advice: one that no port leads to yet, else the first; by its
// stable name where it has one.
QString suggestedAdapter(const QList<SerialAdapter>& adapters);
// What a link says, as written in it; empty for no link.
QByteArray linkText(const QString& link);
bool isRelativeLink(const QString& link);
// How to link `comName` to an adapter present now.
QString linkAdvice(const QString& comName);
// Whether this user may remove the lock file of a process that is gone, as the open will.
bool mayRemove(const PortLock& lock);

}  // namespace zfuse::doctor
