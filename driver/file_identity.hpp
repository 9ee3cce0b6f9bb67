// Telling whether two names lead to the same file, so that no output ever
// lands on an input or on another output.
//
// A file that exists is known by its device and inode number, which is what
// every name of it shares: its own path, a symbolic link to it, a hard
// link, a path through another folder.  A file that does not exist yet has
// no inode; it is known by its resolved path, the real path of its folder
// (links and "..", resolved) with its own name appended.  Two existing
// character devices are never called the same file: writing twice to
// /dev/null or to a terminal loses nothing.
#pragma once

#include <sys/types.h>

#include <string>

struct FileIdentity {
  bool known = false;   // false for what cannot be identified (a pipe on stdin)
  bool exists = false;  // else only resolved_path is set
  bool character_device = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string resolved_path;
};

// The path that opening `name` for writing reaches: symbolic links
// followed, even where the file they point to does not exist yet (as
// fopen creates it there).  `name` itself when it is no link, or when the
// links loop.  A name of an open descriptor (see below) is not followed:
// its link leads to whatever the descriptor holds, which may have no path
// at all ("pipe:[1234]").
std::string followed_path(const std::string& name);

// The descriptor that `name` stands for, or -1: /dev/stdin, /dev/stdout
// and /dev/stderr are 0, 1 and 2; /dev/fd/N, /proc/self/fd/N and
// /proc/<this process>/fd/N are N.  Opening such a name would open the
// file behind the descriptor afresh; writing through the descriptor itself
// keeps its offset and its mode (a shell's ">>" appends, a pipe is a pipe).
int descriptor_named(const std::string& name);

// The identity of the file `name` would open.
FileIdentity identify_path(const std::string& name);

// The identity of what an open descriptor refers to, when it is a file.
FileIdentity identify_descriptor(int descriptor);

// Whether writing to one would change the other.
bool same_file(const FileIdentity& a, const FileIdentity& b);
