// The product's entry in Add/Remove Programs: the key
// HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\<AppName> with its
// DisplayName, DisplayVersion and UninstallString, through which Control
// Panel lists the product and starts its uninstall.
#pragma once

// The key's name below the Uninstall key: AppName with each backslash, which
// would make nested keys, as "_", into `name` of MessageBufferSize bytes.
// True when AppName had none.
bool UninstallKeyName(char* name);

// Once the installed program is in place: creates the key and logs it
// (CreateKey), saving the log, then sets its values. A key that exists
// already belongs to another installation of the product and is left as it
// is, unlogged; a key or a value that cannot be made is only a warning.
// False when the log cannot take the line or be saved (reported); the key
// is then taken back, by the rollback once the log names it.
bool CreateUninstallEntry();
