#pragma once

class QSqlError;

// Whether a read of the local database worked. A read that did not leaves
// nothing to take as a value: the caller keeps what it had.
struct ReadStatus
{
    enum Code {
        Read,   // the values are the stored ones
        Busy,   // another program held the database
        Failed, // the statement failed for another reason
        Closed, // the database is not open
    };
    Code code = Read;

    bool ok() const { return code == Read; }
    bool busy() const { return code == Busy; }
    // The key of the text that tells the operator of a read that failed:
    // "databasebusy" while another program holds the file, else "databaseerr".
    const char *textKey() const { return busy() ? "databasebusy" : "databaseerr"; }

    // What a failed statement's error says: Busy when another connection
    // held the database, else Failed.
    static ReadStatus failed(const QSqlError &error);
};
