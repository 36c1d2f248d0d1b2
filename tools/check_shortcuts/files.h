// The only ways the tool looks at the file system. Every one refuses a path that is not on a
// local drive (a network share, a mapped or substituted network drive, a device), so that the
// tool never authenticates anywhere or waits on a remote server.
#pragma once

#include <cstdint>
#include <string>

// `path` in full (relative parts and doubled separators resolved; nothing is opened).
std::wstring FullPath(const std::wstring& path);

// Whether `path` lies on a local drive: a drive-letter path (possibly as \\?\X:\) whose drive is
// fixed, removable, optical or a RAM disk and not substituted for a network path. UNC paths,
// device paths and network drives are not.
bool IsLocalPath(const std::wstring& path);

// What QueryDosDeviceW answers for a drive ("X:"), read: not local (a network share, as
// \??\UNC\server\share for a drive substituted onto one, a network redirector's device, or any
// other \??\ link that is not a drive's folder), a drive substituted onto a folder of another
// drive (`*onto` receives that drive's letter), or a local device such as \Device\HarddiskVolume3.
enum class DriveDevice { kLocal, kNotLocal, kSubstituted };
DriveDevice ClassifyDriveDevice(const std::wstring& answer, wchar_t* onto);

// Whether the local `path` names an existing file (not a folder); false for any other path.
bool IsLocalFile(const std::wstring& path);
// Whether the local `path` names an existing folder.
bool IsLocalFolder(const std::wstring& path);

// Whether the local paths `a` and `b` name one and the same existing file (same volume, same
// file index), as two spellings of it do. Reparse points are not followed.
bool SameLocalFile(const std::wstring& a, const std::wstring& b);

// The size of the local file `path`, opened for reading (never created). False when it cannot be
// opened.
bool LocalFileSize(const std::wstring& path, uint64_t* size);

bool EqualNoCase(const std::wstring& a, const std::wstring& b);
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);
