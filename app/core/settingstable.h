#pragma once

#include <climits>

// Every setting of the two one-row tables, in one place. Each row names the
// table (SysInfo or RecordCapture), the column, the getter and, unless the
// row is read-only (_RO), the setter; numbers add the value a getter returns
// when nothing could be read, and the range their setter accepts. The getters
// and setters of qcDatabase, and the column lists its readers and writers
// accept, are all expanded from this table.
//
//   TEXT(table, column, getter, setter)         TEXT_RO(table, column, getter)
//   NUMBER(table, column, getter, failure, setter, min, max)
//   NUMBER_RO(table, column, getter, failure)
//   FLAG(table, column, getter, setter)         FLAG_RO(table, column, getter)
#define QC_SETTINGS_TABLE(TEXT, TEXT_RO, NUMBER, NUMBER_RO, FLAG, FLAG_RO)                                             \
    FLAG(SysInfo, autoadd, getAutoAdd, setAutoAdd)                                                                     \
    FLAG(SysInfo, autologin, getAutoLogin, setAutoLogin)                                                               \
    TEXT(SysInfo, autoname, getAutoName, setAutoName)                                                                  \
    FLAG_RO(SysInfo, autoplay, getAutoPlay)                                                                            \
    FLAG(SysInfo, autostream, getAutoStream, setAutoStream)                                                            \
    TEXT(SysInfo, defuser, getDefaultUser, setDefaultUser)                                                             \
    TEXT(SysInfo, defpwd, getDefaultPassword, setDefaultPassword)                                                      \
    NUMBER(SysInfo, reservedsize, getReservedSize, 0, setReservedSize, INT_MIN, INT_MAX)                               \
    TEXT(SysInfo, downloadpath, getDownloadPath, setDownloadPath)                                                      \
    NUMBER_RO(SysInfo, picexpiry, getPictureExpiry, -1)                                                                \
    NUMBER_RO(SysInfo, recexpiry, getRecordExpiry, -1)                                                                 \
    TEXT(SysInfo, recordpath, getRecordPath, setRecordPath)                                                            \
    TEXT(SysInfo, snapshotpath, getSnapshotPath, setSnapshotPath)                                                      \
    NUMBER_RO(SysInfo, showmode, getShowMode, -1)                                                                      \
    TEXT_RO(SysInfo, syslanguage, getSysLanguage)                                                                      \
    NUMBER(SysInfo, keepdays, getKeepDays, 0, setKeepDays, INT_MIN, INT_MAX)                                           \
    NUMBER(SysInfo, viewcount, getViewCount, 0, setViewCount, INT_MIN, INT_MAX)                                        \
    FLAG(RecordCapture, recordskdenable, getRecordScheduleEnable, setRecordScheduleEnable)                             \
    FLAG(RecordCapture, captureskdenable, getCaptureScheduleEnable, setCaptureScheduleEnable)                          \
    NUMBER(RecordCapture, recordstream, getRecordStream, -1, setRecordStream, INT_MIN, INT_MAX)                        \
    NUMBER(RecordCapture, recordduration, getRecordDuration, -1, setRecordDuration, INT_MIN, INT_MAX)                  \
    NUMBER(RecordCapture, prevrecord, getPrevRecord, -1, setPrevRecord, INT_MIN, INT_MAX)                              \
    NUMBER(RecordCapture, postrecord, getPostRecord, -1, setPostRecord, INT_MIN, INT_MAX)                              \
    NUMBER(RecordCapture, capturecount, getCaptureCount, -1, setCaptureCount, 1, 10)                                   \
    NUMBER(RecordCapture, captureinterval, getCaptureInterval, -1, setCaptureInterval, 1, 60)                          \
    NUMBER(RecordCapture, snapshotformat, getSnapshotFormat, -1, setSnapshotFormat, INT_MIN, INT_MAX)                  \
    NUMBER(RecordCapture, snapshotquality, getSnapshotQuality, -1, setSnapshotQuality, INT_MIN, INT_MAX)
