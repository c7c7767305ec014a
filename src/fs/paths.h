// Path and directory helpers. Directory paths end with one separator. None of
// them reports a platform failure: the program carries on regardless.
#pragma once

#include <string>

#include "platform/types.h"

// TRUE when the path exists and is not a directory.
BOOL IsExistingFile(const char* path);

// Creates every missing directory along the path, from the shortest prefix
// to the whole path. FALSE only for an empty path.
BOOL CreateDirectoryTree(std::string path);

// Deletes everything inside dir (with or without its trailing separator),
// read-only files included; dir itself stays. A symbolic link inside is
// removed as an entry and never followed, so nothing outside dir goes.
void DeleteDirectoryContents(std::string dir);

// Full path of the running executable.
std::string GetModulePath();

// The local application data folder and the application name, each
// followed by one separator. Empty when the platform knows no such folder.
std::string GetDataDirectory(const std::string& strAppName);
