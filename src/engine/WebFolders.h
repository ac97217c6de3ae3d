#pragma once
// Documents whose Path is a web address (OneDrive, SharePoint with AutoSave)
// have no folder of their own here; the sync client may keep them in one.
#include <string>
#include <string_view>
#include <vector>

// True for a document location that is a web address ("https://..."), not a folder.
bool IsWebAddress(std::wstring_view path);

// A sync client's root: what lives under urlNamespace on the web lives under
// mountPoint on this computer.
struct SyncRoot {
    std::wstring urlNamespace, mountPoint;
};

// The local folder for url under the root with the longest namespace that
// holds it: the rest of its path (percent-decoded UTF-8) as subfolders.
// Empty when no root holds it, or the rest names no folder under the mount
// point ("..", a character a folder name cannot hold).
std::wstring MappedFolder(std::wstring_view url, const std::vector<SyncRoot>& roots);

// The roots that OneDrive registers for the user
// (HKCU\Software\SyncEngines\Providers\OneDrive\*: UrlNamespace, MountPoint).
std::vector<SyncRoot> SyncRoots();

// The existing local folder that the sync client keeps url in; empty when
// none is known or it does not exist.
std::wstring SyncedFolderOf(std::wstring_view url);
