-- The installer database of the sample installation. The demo turns it into packagemanager.db
-- beside this file with: sqlite3 packagemanager.db < packagemanager.sql
CREATE TABLE INSTALL_DIR (PATH TEXT NOT NULL, CREATED TEXT);
INSERT INTO INSTALL_DIR VALUES ('/opt/corva/zorvex/2024.2', '2024-06-03T10:12:00Z');

CREATE TABLE COMPONENT (ID TEXT NOT NULL, VERSION TEXT NOT NULL, STATE TEXT);
INSERT INTO COMPONENT VALUES ('zorvex.studio', '2024.2.1-118', 'installed');
INSERT INTO COMPONENT VALUES ('zorvex.compiler', '2024.2.0-95', 'installed');
-- Installed but not shown to users: its manifest is not visible.
INSERT INTO COMPONENT VALUES ('zorvex.support-files', '2024.2.0-95', 'installed');

CREATE TABLE SETTINGS (NAME TEXT, VALUE TEXT);
INSERT INTO SETTINGS VALUES ('channel', 'stable');
