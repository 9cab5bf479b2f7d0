-- What wixl cannot write into the installer, applied by scripts/release.sh
-- with msibuild, one statement at a time (each ends with a semicolon at the
-- end of a line).

-- Custom actions run from the system folder, as the system, in the install
-- script, their failure no failure of the install (type 3170): the firewall
-- rule for the service's port, and the log folder's access.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`)
  VALUES ('FirewallAdd', 3170, 'System64Folder', 'netsh.exe advfirewall firewall add rule name="syslog-listen" dir=in action=allow protocol=UDP localport=[PORT] program="[INSTALLDIR]syslog-listen.exe"');
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

-- The port: given on the command line, else remembered by the installed
-- version (REMEMBERED_PORT, from AppSearch), else 514; chosen before the
-- launch condition checks it, in both sequences (a quiet install has only
-- the second). PORT joins wixl's secure properties, which pass from the
-- user's side of the install to the system's.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`)
  VALUES ('PortRemembered', 51, 'PORT', '[REMEMBERED_PORT]');
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`)
  VALUES ('PortDefault', 51, 'PORT', '514');
INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`)
  VALUES ('PortRemembered', 'NOT PORT AND REMEMBERED_PORT', 60);
INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`)
  VALUES ('PortDefault', 'NOT PORT', 61);
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`)
  VALUES ('PortRemembered', 'NOT PORT AND REMEMBERED_PORT', 60);
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`)
  VALUES ('PortDefault', 'NOT PORT', 61);
UPDATE `Property` SET `Value` = 'PORT;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED'
  WHERE `Property` = 'SecureCustomProperties';

-- The Start-menu entries start their files themselves, not through the
-- feature (wixl writes advertised shortcuts only).
UPDATE `Shortcut` SET `Target` = '[#view]' WHERE `Shortcut` = 'ViewShortcut';
UPDATE `Shortcut` SET `Target` = '[#readme]' WHERE `Shortcut` = 'ReadmeShortcut';
