#pragma once

#include <QString>
#include <QStringList>

// The index records of recordings the disk guard moved, file by file, from
// one record folder into another: a list record follows its recording, and
// so do the key-frame records it addresses, so that each folder's list names
// only what lies beside it. A move that is refused leaves its recording
// listed where it stays; the folder moved into lists what arrived, beside
// the records it held already.
namespace movedrecords {

// `moved`: the names of the files that went from `from` into `to`. Their
// list records leave `from`'s list and join `to`'s, where their start times
// put them; the key-frame records they address are appended to `to`'s
// kfindex in a single write and the records pointed at them. `from`'s kfindex
// stays as it is: the records that stay address it by offset. A recording
// `to` cannot list (its index is a link, its disk full) is told, and listed
// in neither folder. `top`: the record root both lie under.
void follow(const QString &top, const QString &from, const QString &to, const QStringList &moved);

} // namespace movedrecords
