-- What wixl cannot write into the installer, applied by scripts/release.sh
-- with msibuild, one statement at a time (each ends with a semicolon at the
-- end of a line).

-- Custom actions run from the system folder, as the system, in the install
-- script, their failure no failure of the install (type 3170): the firewall
-- rule for the service's port, and the log folder's access.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`)
  VALUES ('FirewallAdd', 3170, 'System64Folder', 'netsh.exe advfirewall firewall add rule name="syslog-listen" dir=in action=allow protocol=UDP localport=514 program="[INSTALLDIR]syslog-listen.exe"');
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`)
  VALUES ('FirewallRemove', 3170, 'System64Folder', 'netsh.exe advfirewall firewall delete rule name="syslog-listen"');
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`)
  VALUES ('FirewallClear', 3170, 'System64Folder', 'netsh.exe advfirewall firewall delete rule name="syslog-listen"');
-- LocalService (S-1-5-19) may create and change the logs.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`)
  VALUES ('LogFolderAccess', 3170, 'System64Folder', 'icacls.exe "[LOGDIR]." /grant *S-1-5-19:(OI)(CI)M');

-- The PATH entry: appended at install, taken out at uninstall.
CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL,
  `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE,
  `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`);
INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`)
  VALUES ('PATH', '=-*Path', '[~];[INSTALLDIR]', 'Program');
