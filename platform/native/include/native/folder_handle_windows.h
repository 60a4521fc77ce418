#pragma once

// Folders held open by handle on Windows, their entries reached relative to the handle: what
// FolderHandle does there. Built on Windows only, and free of Qt so that it also builds with a
// bare cross compiler. Names are single components in UTF-16, taken and given exactly.

#include <string>
#include <vector>

namespace native {

namespace folder {

enum class Kind { Folder, Link, Other };
struct Entry {
    std::u16string name;
    Kind kind;
};

// A folder handle is a Windows HANDLE, or null when not open. Folders are opened without delete
// sharing, so that a held folder cannot be renamed, removed or swapped for a link meanwhile.
using Handle = void*;

// The folder at `path`, links on the way followed: the caller names it.
Handle open(const std::u16string& path);
// The subfolder `name`: null when it is missing, no folder or a reparse point (a link, a junction).
Handle child(Handle folder, const std::u16string& name);
void close(Handle folder);

// Every entry but "." and ".."; a reparse point is a link, whatever it leads to.
std::vector<Entry> entries(Handle folder);
// A reparse point that stands for a folder (a folder link or a junction).
bool isLinkToFolder(Handle folder, const std::u16string& name);
// A file, or a link itself (never what it leads to); refused for a folder and a read-only file.
bool removeFile(Handle folder, const std::u16string& name);
// An empty folder, never a link.
bool removeFolder(Handle folder, const std::u16string& name);
// Renames within the folder; refuses when `to` exists, whatever it is. A link is renamed itself.
bool rename(Handle folder, const std::u16string& from, const std::u16string& to);
// Whether anything is named `name` (a link counts, followed or not).
bool exists(Handle folder, const std::u16string& name);

} // namespace folder

} // namespace native
