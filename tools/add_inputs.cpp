// vorx a: the walk over the paths given, and each file opened at its turn.
#include "tools/add_inputs.h"

#include <map>

#include "platform/platform.h"
#include "tools/commands.h"
#include "tools/patterns.h"
#include "writer/entry_names.h"

namespace tool {
namespace {

// Folders below a path given, at most.
constexpr int kMaxDepth = 256;

std::string LinkLeftOut(const std::string& path) {
    return "'" + path + "' is a link, left out: an archive cannot hold a link";
}

std::string SpecialLeftOut(const std::string& path) {
    return "'" + path + "' is not a regular file (a FIFO, a socket or a device), left out";
}

struct Walker {
    const Options& options;
    const std::string& outputAbsolute;
    NameFilter filter;
    Collected result;

    // Whether -x leaves the name (host text, '/' between folders) out.
    bool Excluded(const std::string& display) const {
        if (options.exclude.empty()) return false;
        std::string utf8, error;
        if (!HostToUtf8(display, &utf8, &error)) return false;
        for (char& c : utf8)
            if (c == '/') c = '\\';
        return filter.Excludes(utf8);
    }

    void AddFile(Input in) {
        if (host::AbsolutePath(in.hostPath) == outputAbsolute) return;  // the archive itself
        std::string converted, error;
        if (!host::ToCodePage(in.display, options.codePage, &converted, &error)) {
            result.problems.push_back("'" + in.display + "': " + error);
            return;
        }
        // '\' is the archive's separator: a host name that holds one cannot be stored.
        // (Where it is the host's separator too, no name holds one; and there a
        // double-byte character of the ANSI code page may hold the byte 0x5C.)
        if (host::PathSeparator() == '/' && in.display.find('\\') != std::string::npos) {
            result.problems.push_back(
                "'" + in.display + "': the name has a '\\', which Windows takes for a separator");
            return;
        }
        for (char& c : converted)
            if (c == '/') c = '\\';
        const std::string problem = vorx::EntryNameProblem(converted, options.codePage);
        if (!problem.empty()) {
            result.problems.push_back("'" + in.display + "': " + problem);
            return;
        }
        in.stored = std::move(converted);
        result.inputs.push_back(std::move(in));
    }

    void Item(const WalkFolderPtr& node, const host::FolderPtr& held, const host::FolderItem& item,
              const std::string& display, int depth);

    void Walk(const WalkFolderPtr& node, const host::FolderPtr& held, const std::string& display,
              int depth) {
        std::vector<host::FolderItem> items;
        if (!host::ListFolder(*held, &items)) {
            result.warnings.push_back("cannot read the folder '" + node->path +
                                      "': " + host::LastError().text + ", left out");
            return;
        }
        for (const host::FolderItem& item : items)
            Item(node, held, item, display + "/" + item.name, depth + 1);
    }

    void Named(const std::string& path);
};

void Walker::Item(const WalkFolderPtr& node, const host::FolderPtr& held,
                  const host::FolderItem& item, const std::string& display, int depth) {
    const std::string path = JoinPath(node->path, item.name);
    if (Excluded(display)) return;
    if (item.status.kind == host::PathKind::Missing) {
        if (host::NameLostCharacters(path))
            result.problems.push_back(
                "'" + path + "': the name cannot be read as text (a lone UTF-16 surrogate)");
        else
            result.warnings.push_back("'" + path + "' vanished while it was listed, left out");
    } else if (item.status.isLink) {
        result.warnings.push_back(LinkLeftOut(path));
    } else if (item.status.kind == host::PathKind::Directory) {
        host::FolderPtr sub;
        const host::Subfolder opened = depth > kMaxDepth
                                           ? host::Subfolder::Failed
                                           : host::OpenExistingSubfolder(held, item.name, &sub);
        if (depth > kMaxDepth)
            result.problems.push_back("'" + path + "': folders nested too deeply");
        else if (opened == host::Subfolder::Link)
            result.warnings.push_back(LinkLeftOut(path));
        else if (opened != host::Subfolder::Opened)
            result.warnings.push_back("cannot open the folder '" + path +
                                      "': " + host::LastError().text + ", left out");
        else
            Walk(std::make_shared<const WalkFolder>(WalkFolder{node, item.name, path}), sub,
                 display, depth);
    } else if (item.status.kind == host::PathKind::File) {
        AddFile(Input{node, item.name, false, path, display, "", item.status, item.stamp});
    } else {
        result.warnings.push_back(SpecialLeftOut(path));
    }
}

// A path the user gave: a link there is followed, as asked.
void Walker::Named(const std::string& path) {
    const std::string display = host::LastComponent(host::AbsolutePath(path));
    if (display.empty()) {
        result.problems.push_back("'" + path + "' has no name to store it under");
        return;
    }
    const host::PathStatus status = host::Stat(path);
    if (status.kind == host::PathKind::Missing) {
        result.problems.push_back("cannot find '" + path + "': " + host::LastError().text);
        return;
    }
    if (Excluded(display)) return;
    if (status.kind == host::PathKind::Directory) {
        const host::FolderPtr held = host::OpenFolder(path);
        if (!held)
            result.problems.push_back("cannot open the folder '" + path +
                                      "': " + host::LastError().text);
        else
            Walk(std::make_shared<const WalkFolder>(WalkFolder{nullptr, path, path}), held, display,
                 0);
        return;
    }
    if (status.kind != host::PathKind::File) {
        result.warnings.push_back(SpecialLeftOut(path));
        return;
    }
    const std::string parentPath = host::ParentFolder(path);
    const host::FolderPtr parent = host::OpenFolder(parentPath);
    host::FolderItem item;
    if (!parent || !host::StatItem(*parent, host::LastComponent(path), true, &item)) {
        result.problems.push_back("cannot find '" + path + "': " + host::LastError().text);
        return;
    }
    const auto node =
        std::make_shared<const WalkFolder>(WalkFolder{nullptr, parentPath, parentPath});
    AddFile(Input{node, item.name, true, path, display, "", item.status, item.stamp});
}

// Two entries that Windows would take for one file (letter case; a file where another
// entry needs a folder) would lose one of them there: both names are refused.
void RefuseWindowsCollisions(const std::vector<Input>& inputs, unsigned codePage,
                             std::vector<std::string>* problems) {
    std::map<std::string, const Input*> files, folders;
    std::vector<std::string> keys;
    for (const Input& in : inputs) {
        // The key is built from the name's UTF-8 form, where '\\' is always a separator.
        keys.push_back(vorx::WindowsNameKey(StoredToUtf8(in.stored, codePage)));
        for (size_t end = keys.back().find('\\'); end != std::string::npos;
             end = keys.back().find('\\', end + 1))
            folders.emplace(keys.back().substr(0, end), &in);
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        const Input& in = inputs[i];
        const auto [file, added] = files.emplace(keys[i], &in);
        const auto folder = folders.find(keys[i]);
        if (!added && file->second->stored == in.stored)
            problems->push_back("'" + in.display + "': two entries would have this name");
        else if (!added)
            problems->push_back("'" + in.display + "': Windows takes it for the same file as '" +
                                file->second->display + "'");
        else if (folder != folders.end())
            problems->push_back("'" + in.display +
                                "': Windows cannot hold this file beside the folder of '" +
                                folder->second->display + "'");
    }
}

}  // namespace

Collected CollectInputs(const Options& o, const std::vector<std::string>& paths,
                        const std::string& outputAbsolute) {
    std::vector<std::string> exclude;
    Collected early;
    for (const std::string& pattern : o.exclude) {
        std::string utf8, error;
        if (HostToUtf8(pattern, &utf8, &error))
            exclude.push_back(utf8);
        else
            early.problems.push_back("-x '" + pattern + "': " + error);
    }
    Walker walker{o, outputAbsolute, NameFilter({}, exclude), std::move(early)};
    for (const std::string& path : paths) walker.Named(path);
    RefuseWindowsCollisions(walker.result.inputs, o.codePage, &walker.result.problems);
    return std::move(walker.result);
}

host::FolderPtr InputOpener::FolderOf(const WalkFolderPtr& folder, std::string* message,
                                      bool* link) {
    const auto known = open_.find(folder.get());
    if (known != open_.end()) return known->second.second;
    host::FolderPtr held;
    if (!folder->parent) {
        held = host::OpenFolder(folder->name);
        if (!held)
            *message = "cannot open the folder '" + folder->path + "': " + host::LastError().text;
    } else if (const host::FolderPtr parent = FolderOf(folder->parent, message, link)) {
        const host::Subfolder step = host::OpenExistingSubfolder(parent, folder->name, &held);
        *link = step == host::Subfolder::Link;
        if (step != host::Subfolder::Opened)
            *message =
                *link ? LinkLeftOut(folder->path)
                      : "cannot open the folder '" + folder->path + "': " + host::LastError().text;
    }
    // Files come in the walk's order: the folders of the last ones are the ones needed.
    if (open_.size() >= 64) open_.clear();
    if (held) open_.emplace(folder.get(), std::make_pair(folder, held));
    return held;
}

InputOpener::Result InputOpener::Open(const Input& in, int* fd, host::FileStamp* stamp,
                                      std::string* message) {
    bool link = false;
    const host::FolderPtr folder = FolderOf(in.folder, message, &link);
    if (!folder) {
        *message += ", left out";
        return Result::LeftOut;
    }
    switch (host::OpenInput(*folder, in.name, in.named, fd, stamp)) {
        case host::InputKind::File:
            if (*stamp == in.stamp) return Result::Opened;
            platform::FileClose(*fd);
            *message = "'" + in.hostPath + "' changed after it was listed";
            return Result::Refused;
        case host::InputKind::Link:
            *message = LinkLeftOut(in.hostPath);
            return Result::LeftOut;
        case host::InputKind::Folder:
        case host::InputKind::Special:
            *message = SpecialLeftOut(in.hostPath);
            return Result::LeftOut;
        default:
            *message =
                "cannot open '" + in.hostPath + "': " + host::LastError().text + ", left out";
            return Result::LeftOut;
    }
}

}  // namespace tool
