// The inputs of `vorx a`: the files below the paths given, with the names they are stored
// under, and each file opened once when its turn to be read comes.
//
// A path given on the command line (or in a list file) is taken as the user named it, a
// link there followed. Below it nothing is followed: folders are listed and opened
// through the folder above, and a link, a FIFO, a socket or a device found there is left
// out and reported (the format holds files and their folders only). A file is opened once,
// where the walk found it and without passing a link, and is kept only when the open handle
// shows a regular file of the size and time the walk saw.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/host.h"
#include "tools/options.h"

namespace tool {

// A folder of the walk: a path the user gave, or a name in the folder above.
struct WalkFolder {
    std::shared_ptr<const WalkFolder> parent;  // null: `name` is the user's path
    std::string name;
    std::string path;  // for messages
};
using WalkFolderPtr = std::shared_ptr<const WalkFolder>;

struct Input {
    WalkFolderPtr folder;
    std::string name;         // in the folder
    bool named = false;       // the user named the file itself: a link there is followed
    std::string hostPath;     // for messages
    std::string display;      // the stored name in host text, '/' between folders
    std::string stored;       // the entry name in the code page
    host::PathStatus status;  // as the walk saw it
    host::FileStamp stamp;
};

struct Collected {
    std::vector<Input> inputs;
    std::vector<std::string> problems;  // refusals: nothing is written
    std::vector<std::string> warnings;  // left out: exit code 1
};

// The inputs below `paths` (list files already read) whose stored names no -x excludes,
// every name checked against the name rule and Windows' collisions. `outputAbsolute`, the
// archive being written, is never an input.
Collected CollectInputs(const Options& o, const std::vector<std::string>& paths,
                        const std::string& outputAbsolute);

// Opens inputs folder by folder, keeping the folders of the last few open, since files are
// read in the order the walk found them.
class InputOpener {
public:
    enum class Result { Opened, LeftOut, Refused };
    // Opens `in`: Opened with `*fd` and the stamp it has; LeftOut (exit code 1) or Refused
    // (nothing is written) with the message.
    Result Open(const Input& in, int* fd, host::FileStamp* stamp, std::string* message);

private:
    host::FolderPtr FolderOf(const WalkFolderPtr& folder, std::string* message, bool* link);

    std::map<const WalkFolder*, std::pair<WalkFolderPtr, host::FolderPtr>> open_;
};

}  // namespace tool
