INSERT INTO systeminfo (indexid, curdevindex, autoadd, autologin, autoname, autoplay, autostream, defuser, defpwd,
                        reservedsize, downloadpath, picexpiry, recexpiry, recordpath, snapshotpath, showmode,
                        syslanguage, keepdays, viewcount)
VALUES (0, 1, 0, 0, '', 0, 1, 'admin', '', 5, '.', 30, 30, '.', '.', 0, 'English', 30, 4);

INSERT INTO recordcapture (indexid, recordskdenable, captureskdenable, recordstream, recordduration, prevrecord,
                           postrecord, capturecount, captureinterval, snapshotformat, snapshotquality)
VALUES (0, 0, 0, 0, 300, 0, 0, 1, 1, 0, 4);

INSERT INTO users (username, password, usertype, usergroup, userdecl)
VALUES ('admin', 'admin', 511, 'Administrator', 'Default administrator');
