// One value of a JSON document, asked by a Python expression over `d` (the
// document) and written as Python's json.dumps writes it. The tool tests ask
// python3 itself on POSIX; the Windows build of the tests cannot start the
// host's python3 under Wine, and evaluates the same expressions here.
//
// What the tests' expressions use, and all this understands: the names `d`
// and a comprehension's variable, whole numbers, strings in single or double
// quotes, True, False, None, subscripts (negative indices count from the
// end), list and tuple displays (a tuple is written as a list, as json.dumps
// does), list comprehensions with one `for` over a list, `+` (numbers, strings,
// lists), `-` (numbers) and the comparisons == != < <= > >= (chained as
// Python chains them). Anything else throws std::invalid_argument naming
// where it is in the expression.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testsupport {

std::string json_expression(const std::string &document, const std::string &expression);

// Each object of the list `expression` gives, as its keys with their values
// written by json.dumps.
std::vector<std::map<std::string, std::string>> json_expression_objects(const std::string &document,
                                                                       const std::string &expression);

// A text as json.dumps writes it: quoted, with non-ASCII characters as
// \uXXXX escapes (UTF-16, lower-case hex).
std::string json_dumps_text(const std::string &utf8);

} // namespace testsupport
