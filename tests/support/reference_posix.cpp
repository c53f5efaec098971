// The readings of reference.hpp by python3.
#include "tests/support/reference.hpp"

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace testsupport::reference {
namespace {

const char *const kPython = "/usr/bin/python3";

ProcessResult python(const std::vector<std::string> &args, const ProcessOptions &options = {}) {
    return run_process(kPython, args, options);
}

// python3 reads the document from a file of its own.
struct DocumentFile {
    explicit DocumentFile(const std::string &text) : path(folder.file("document.json")) {
        std::ofstream(path, std::ios::binary) << text;
    }
    TempDir folder{"json"};
    std::string path;
};

std::string without_line_end(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

} // namespace

std::string json_value(const std::string &document, const std::string &expression) {
    const DocumentFile file(document);
    const auto got = python({"-c", "import json,sys; d=json.load(open(sys.argv[1])); print(json.dumps(" + expression + "))",
                             file.path});
    EXPECT_EQ(got.exit_code, 0) << got.err;
    return got.exit_code == 0 ? without_line_end(got.out) : "";
}

bool is_json(const std::string &document, std::string &why) {
    const DocumentFile file(document);
    const auto parsed = python({"-m", "json.tool", file.path});
    why = parsed.err;
    return parsed.exit_code == 0;
}

std::vector<std::map<std::string, std::string>> json_objects(const std::string &document,
                                                            const std::string &expression) {
    const DocumentFile file(document);
    const auto flat = python({"-c",
                              "import json,sys\n"
                              "d = json.load(open(sys.argv[1]))\n"
                              "for r in " + expression + ":\n"
                              "    print('\\t'.join(k + '=' + json.dumps(v) for k, v in r.items()))\n",
                              file.path});
    EXPECT_EQ(flat.exit_code, 0) << flat.err << document;
    std::vector<std::map<std::string, std::string>> found;
    std::istringstream lines(flat.out);
    for (std::string line; std::getline(lines, line);) {
        std::map<std::string, std::string> object;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');)
            object[field.substr(0, field.find('='))] = field.substr(field.find('=') + 1);
        found.push_back(object);
    }
    return found;
}

std::string adler32(const std::string &file) {
    const auto got =
        python({"-c", "import zlib,sys; print('%08x' % zlib.adler32(open(sys.argv[1],'rb').read()))", file});
    return got.exit_code == 0 ? got.out.substr(0, 8) : "";
}

std::string host_name() { return without_line_end(python({"-c", "import socket; print(socket.gethostname())"}).out); }

std::string database_rows(const std::string &file, const std::string &query) {
    const auto got = python({"-c",
                             "import sqlite3,sys\n"
                             "c = sqlite3.connect(sys.argv[1])\n"
                             "print(c.execute('PRAGMA integrity_check').fetchone()[0])\n"
                             "for row in c.execute(sys.argv[2]): print(*row)\n",
                             file, query});
    EXPECT_EQ(got.exit_code, 0) << got.err;
    return got.out;
}

void run_script(const std::string &file, const std::string &script) {
    const auto got = python({"-c", "import sqlite3,sys; sqlite3.connect(sys.argv[1]).executescript(sys.argv[2])", file,
                             script});
    EXPECT_EQ(got.exit_code, 0) << got.err;
}

void set_user_version(const std::string &file, int version) {
    const auto got = python(
        {"-c", "import sqlite3,sys; sqlite3.connect(sys.argv[1]).execute('PRAGMA user_version = ' + sys.argv[2])", file,
         std::to_string(version)});
    EXPECT_EQ(got.exit_code, 0) << got.err;
}

// python3 takes the lock, says so by making a file, and keeps the lock until
// another file appears.
struct ExclusiveLock::State {
    TempDir signals{"lock"};
    std::thread holder;
};

ExclusiveLock::ExclusiveLock(const std::string &file) : state_(std::make_unique<State>()) {
    const std::string locked = state_->signals.file("locked"), done = state_->signals.file("done");
    state_->holder = std::thread([file, locked, done] {
        ProcessOptions options;
        options.timeout_seconds = 60;
        python({"-c",
                "import sqlite3,sys,os,time\n"
                "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                "c.execute('BEGIN EXCLUSIVE')\n"
                "open(sys.argv[2], 'w').close()\n"
                "deadline = time.time() + 50\n"
                "while not os.path.exists(sys.argv[3]) and time.time() < deadline: time.sleep(0.05)\n",
                file, locked, done},
               options);
    });
    for (int i = 0; i < 1000 && !file_exists(locked); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

ExclusiveLock::~ExclusiveLock() {
    write_text(state_->signals.file("done"), "");
    state_->holder.join();
}

bool ExclusiveLock::held() const { return file_exists(state_->signals.file("locked")); }

} // namespace testsupport::reference
