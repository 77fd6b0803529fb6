CREATE TABLE systemlogs (logdate TEXT, curuser TEXT, logtype INTEGER, logdecl TEXT,
                         reldevname TEXT, reldevaddr TEXT, lognote TEXT);
CREATE INDEX systemlogs_logdate ON systemlogs(logdate);
