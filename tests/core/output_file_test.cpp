// Output files: a file takes its final name only whole, a failure at any
// write, flush, close or rename is an error naming the file and the system's
// reason, and nothing unfinished stays under the final name.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <filesystem>
#include <functional>
#include <string>

#include "core/output_file.hpp"
#include "support/cli.hpp"

namespace fs = std::filesystem;
using occusim::FileError;
using occusim::OutputFile;
using occusim::testing::read_file;
using occusim::testing::TempDir;

namespace {

std::size_t entries(const std::string &dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(OutputFile, TakesItsNameOnlyWhenCommittedAndWhole) {
    TempDir d;
    const std::string path = d.path + "/run.pao";
    {
        OutputFile f;
        ASSERT_TRUE(f.create(path, "run.pao"));
        std::fputs("8\t3\n", f.stream());
        EXPECT_FALSE(fs::exists(path));
        f.commit();
    }
    EXPECT_EQ(read_file(path), "8\t3\n");
    EXPECT_EQ(entries(d.path), 1u);

    // Discarded (or dropped unfinished): the part goes, the old file stays.
    {
        OutputFile f;
        ASSERT_TRUE(f.create(path, "run.pao"));
        std::fputs("half", f.stream());
    }
    EXPECT_EQ(read_file(path), "8\t3\n");
    EXPECT_EQ(entries(d.path), 1u);

    // Two files bound for one name do not share a part; the last one committed holds it.
    OutputFile a, b;
    ASSERT_TRUE(a.create(path, "run.pao"));
    ASSERT_TRUE(b.create(path, "run.pao"));
    std::fputs("a", a.stream());
    std::fputs("b", b.stream());
    b.commit();
    a.commit();
    EXPECT_EQ(read_file(path), "a");
    EXPECT_EQ(entries(d.path), 1u);
}

TEST(OutputFile, FailuresNameTheFileAndLeaveNothingUnderIt) {
    TempDir d;
    const struct {
        const char *what;
        std::string path;
        std::function<void()> before_commit;
        const char *error;
    } cases[] = {
        {"every write fails", "/dev/full", [] {}, "error: cannot write 'x': No space left on device"},
        {"the directory goes", d.path + "/gone/x", [&] { fs::remove_all(d.path + "/gone"); },
         "error: cannot write 'x': No such file or directory"},
    };
    fs::create_directory(d.path + "/gone");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        OutputFile f;
        ASSERT_TRUE(f.create(c.path, "x"));
        std::fputs("0\t1\t2.500000\n", f.stream());
        c.before_commit();
        try {
            f.commit();
            ADD_FAILURE() << "no error";
        } catch (const FileError &e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
        EXPECT_FALSE(f.open());
    }
    struct stat st;
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)); // a device is written in place, never replaced
    EXPECT_EQ(entries(d.path), 0u);
}

TEST(OutputFile, FilesThatCannotBeCreatedSayWhy) {
    TempDir d;
    fs::create_directory(d.path + "/dir");
    const struct {
        std::string path;
        const char *error;
    } cases[] = {
        {d.path + "/nodir/run1.pao", "error: cannot create 'f': No such file or directory"},
        {d.path + "/dir", "error: cannot create 'f': Is a directory"},
    };
    for (const auto &c : cases) {
        OutputFile f;
        try {
            f.create_or_throw(c.path, "f");
            ADD_FAILURE() << c.path;
        } catch (const FileError &e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
    }
    EXPECT_EQ(entries(d.path), 1u);
}

// Whole pieces: a piece that does not fit leaves the file as it was before
// it, ready for the next; a file that cannot be cut back (a device) is given
// up. Writes beyond 4096 bytes fail here (a file size limit).
TEST(OutputFile, APieceThatDoesNotFitIsCutBackWhole) {
    TempDir d;
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto *previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string path = d.path + "/rows.csv";
    std::string kept, errors;
    bool open_after = false;
    {
        OutputFile f;
        ASSERT_TRUE(f.create(path, "rows.csv"));
        std::fputs("rep,x\n", f.stream()); // buffered ahead of the pieces
        for (std::size_t size : {3000, 2000, 1000}) {
            try {
                f.append_whole(std::string(size - 1, 'a') + "\n");
            } catch (const FileError &e) {
                errors += std::string(e.what()) + "\n";
            }
        }
        open_after = f.open();
        f.commit();
        kept = read_file(path);
    }
    OutputFile dev;
    ASSERT_TRUE(dev.create("/dev/full", "full"));
    try {
        dev.append_whole("1,0\n");
        ADD_FAILURE() << "no error";
    } catch (const FileError &e) {
        errors += std::string(e.what()) + "\n";
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(open_after);
    EXPECT_EQ(kept.size(), 6u + 3000u + 1000u);
    EXPECT_EQ(errors, "error: cannot write 'rows.csv': File too large\n"
                      "error: cannot write 'full': No space left on device\n");
    EXPECT_FALSE(dev.open());
    EXPECT_EQ(entries(d.path), 1u);
}

} // namespace
