// Files and folders that a catchable signal (SIGINT, SIGTERM, SIGHUP) must not leave behind:
// temporary results and scratch folders. Registered names are removed by the signal's
// handler, which then lets the signal take its default course.
#pragma once

#include <string>

namespace dormal::cleanup {

// Guards the file `path` (removed by the handler); a slot, or -1 when every slot is taken
// (the name is then not guarded).
int add(const std::string& path);
// Guards the folder `path`, open as `folderFd`: the handler empties it through the
// descriptor and removes it. The descriptor must stay open until remove(slot).
int addFolder(int folderFd, const std::string& path);
// Ends the guard of a slot (-1: nothing).
void remove(int slot);

// Removes everything inside the folder open as `folderFd`, subfolders included, without
// following symbolic links (a link is removed, never what it points to). Only
// async-signal-safe calls: used by the handler and by ordinary code alike. False when
// something could not be removed.
bool removeFolderContents(int folderFd);

} // namespace dormal::cleanup
