// texttable build <listing> <table-file>: writes a text table file.
// texttable dump <table-file>: prints its listing on standard output.
// Errors go to standard error in one line; the exit code is then 1, or 2
// for a wrong command line.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "table_listing.h"

namespace {

// Listings are read and written as text, so that CR LF line ends on
// Windows become plain line breaks; tables are binary.
bool ReadWhole(const std::string& path, bool binary, std::string* bytes) {
    std::ifstream in(path, binary ? std::ios::in | std::ios::binary : std::ios::in);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    *bytes = all.str();
    return !in.bad();
}

int Fail(const std::string& path, const std::string& message) {
    std::cerr << "texttable: " << path << ": " << message << "\n";
    return 1;
}

int Build(const std::string& listingPath, const std::string& tablePath) {
    std::string listing, table, error;
    std::vector<std::string> texts;
    if (!ReadWhole(listingPath, false, &listing))
        return Fail(listingPath, std::string("cannot read: ") + std::strerror(errno));
    if (!ParseListing(listing, &texts, &error))
        return Fail(listingPath, error);
    if (!EncodeTable(texts, &table, &error))
        return Fail(tablePath, error);
    std::ofstream out(tablePath, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out)
        return Fail(tablePath, std::string("cannot write: ") + std::strerror(errno));
    out.write(table.data(), static_cast<std::streamsize>(table.size()));
    out.close();
    if (!out)
        return Fail(tablePath, "cannot write");
    return 0;
}

int Dump(const std::string& tablePath) {
    std::string table, error;
    std::vector<std::string> texts;
    if (!ReadWhole(tablePath, true, &table))
        return Fail(tablePath, std::string("cannot read: ") + std::strerror(errno));
    if (!DecodeTable(table, &texts, &error))
        return Fail(tablePath, "not a text table: " + error);
    std::cout << WriteListing(texts);
    std::cout.flush();
    return std::cout ? 0 : Fail("<stdout>", "cannot write");
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "build")
        return Build(args[1], args[2]);
    if (args.size() == 2 && args[0] == "dump")
        return Dump(args[1]);
    std::cerr << "usage: texttable build <listing> <table-file>\n"
                 "       texttable dump <table-file>\n";
    return 2;
}
