// The files the program touches: its own folder, the per-user data folder,
// tests on folders and files, and writing a file whole or adding to it.
// Paths are UTF-8; folders end with a path separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The folder of the program's executable.
std::string ProgramFolder();

// The operator's data folder for the program named `programName`, which may
// not exist yet. It is the platform's per-user application data folder.
std::string UserDataFolder(std::string_view programName);

// The folder a file name lies in, absolute.
std::string FolderOf(const std::string& fileName);

bool IsFolder(const std::string& path);
// A folder this user may create files in.
bool IsWritableFolder(const std::string& path);
bool IsFile(const std::string& path);

// Makes `folder`, readable by its owner only, and the folders above it that
// are missing. A failure shows when a file in it cannot be opened.
void MakeOwnFolder(const std::string& folder);

// The outcome of a write: the file's size afterwards, or why it failed.
struct TFileWrite {
    bool Written = false;
    std::int64_t Size = 0;
    std::string Error;  // the system's reason, when not written
};

// Writes `bytes` as the file's whole content, replacing what was there.
TFileWrite WriteWholeFile(const std::string& fileName, std::string_view bytes);

// Adds `bytes` at the end of the file, but only when it exists and holds
// exactly `expectedSize` bytes; otherwise writes nothing and returns with
// Written false and an empty Error.
TFileWrite AppendToFile(const std::string& fileName, std::int64_t expectedSize,
                        std::string_view bytes);
