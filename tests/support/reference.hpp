// What another implementation than romwright's reads in the programs' output:
// their JSON documents, a file's Adler-32, this machine's name and the update
// history's database. On POSIX that is python3 (reference_posix.cpp). Under
// Wine a test program cannot start the host's python3, so the Windows build
// reads them with code of its own (reference_windows.cpp): the JSON with
// json_expression.hpp over nlohmann's parser, the checksum by its
// definition, the name from the system's hostname.exe and the database
// through SQLite's C interface.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testsupport::reference {

// One value of a JSON document by a Python expression over `d`, as json.dumps
// writes it (see json_expression.hpp); fails the running test and gives ""
// when the document or the expression cannot be read.
std::string json_value(const std::string &document, const std::string &expression);

// Whether text is one whole JSON document; why not, when it is not.
bool is_json(const std::string &document, std::string &why);

// Each object of the list `expression` gives, as its keys and their values
// written by json.dumps.
std::vector<std::map<std::string, std::string>> json_objects(const std::string &document,
                                                            const std::string &expression);

// The Adler-32 of a file's bytes in 8 lower-case hex digits; "" when the
// file cannot be read.
std::string adler32(const std::string &file);

// This machine's name as the system's own tools tell it.
std::string host_name();

// `PRAGMA integrity_check`'s answer and then the rows of query, one line
// each with its columns separated by blanks.
std::string database_rows(const std::string &file, const std::string &query);

// Runs an SQL script (several statements) on the database, making the file
// when it is missing, as another program would write it.
void run_script(const std::string &file, const std::string &script);

// Makes the database file (when missing) and sets its user_version.
void set_user_version(const std::string &file, int version);

// Holds the database's exclusive lock from construction to destruction, as
// another program would: another process on POSIX, another connection of
// this one on Windows (the system's file locks keep out any other handle).
class ExclusiveLock {
public:
    explicit ExclusiveLock(const std::string &file);
    ~ExclusiveLock();
    ExclusiveLock(const ExclusiveLock &) = delete;
    ExclusiveLock &operator=(const ExclusiveLock &) = delete;
    bool held() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace testsupport::reference
