CREATE TABLE devices   (devname TEXT, username TEXT, password TEXT, address TEXT, port TEXT,
                        connecttype INTEGER, indexid INTEGER UNIQUE, devtype TEXT);
CREATE TABLE users     (username TEXT UNIQUE, password TEXT, usertype INTEGER, usergroup TEXT, userdecl TEXT);
CREATE TABLE schedules (applytype INTEGER, devname TEXT, ipaddr TEXT, skdsun TEXT, skdmon TEXT, skdtue TEXT,
                        skdwed TEXT, skdthu TEXT, skdfri TEXT, skdsat TEXT, skdtype INTEGER, enable INTEGER);
CREATE TABLE systeminfo (indexid INTEGER, curdevindex INTEGER, autoadd INTEGER, autologin INTEGER, autoname TEXT,
                        autoplay INTEGER, autostream INTEGER, defuser TEXT, defpwd TEXT, reservedsize INTEGER,
                        downloadpath TEXT, picexpiry INTEGER, recexpiry INTEGER, recordpath TEXT, snapshotpath TEXT,
                        showmode INTEGER, syslanguage TEXT, keepdays INTEGER, viewcount INTEGER);
CREATE TABLE recordcapture (indexid INTEGER, recordskdenable INTEGER, captureskdenable INTEGER, recordstream INTEGER,
                        recordduration INTEGER, prevrecord INTEGER, postrecord INTEGER, capturecount INTEGER,
                        captureinterval INTEGER, snapshotformat INTEGER, snapshotquality INTEGER);
