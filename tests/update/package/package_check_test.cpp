// The package check on its own: staged copies hashed against a manifest,
// in more files than it has slots for, and what it finds wrong.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package_check.h"
#include "package_manifest.h"
#include "sha256_hex.h"
#include "temp_tree.h"

namespace {

struct Findings {
    std::vector<std::string> missing, differing;
    static void Found(void* context, const TextString& path, PackageFinding finding) {
        Findings& self = *static_cast<Findings*>(context);
        if (finding == PackageFinding::kMissing)
            self.missing.push_back(path.GetText());
        else if (finding == PackageFinding::kDiffers)
            self.differing.push_back(path.GetText());
    }
};

// A package of `count` listed files f000.dat ... whose staged copies lie in
// a folder of their own, each as listed unless the test spoils it.
class PackageCheckTest : public ::testing::Test {
  protected:
    void List(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            const std::string name = Name(i);
            text += HashOf(name) + "  " + name + "\n";
            tree_.WriteFile("staged\\" + name, name);
        }
        ASSERT_TRUE(manifest_.Parse(text.data(), static_cast<std::uint32_t>(text.size())));
    }
    static std::string Name(int i) {
        const std::string number = std::to_string(1000 + i);
        return "f" + number.substr(1) + ".dat";
    }
    // Hands in every file listed but those in `left`, in order, and settles.
    std::uint32_t Check(int count, const std::vector<int>& left = {}) {
        PackageCheck check(manifest_, TextString(tree_.Path("package").c_str()), Findings::Found,
                           &findings_);
        for (int i = 0; i < count; ++i) {
            if (std::find(left.begin(), left.end(), i) != left.end())
                continue;
            const std::string name = Name(i);
            EXPECT_TRUE(check.Admits(name.c_str()));
            check.Verify(name.c_str(), TextString(tree_.Path("staged\\" + name).c_str()));
        }
        return check.Settle(true);
    }

    TempTree tree_;
    PackageManifest manifest_;
    Findings findings_;
};

// Damage anywhere is found, in the first file too, whose slot is used again
// long before the end; and none where there is none (-1).
TEST_F(PackageCheckTest, ACopyNotAsListedIsFoundWhereverItIs) {
    for (int spoilt : {-1, 0, 1, 63, 64, 150, 199}) {
        SCOPED_TRACE(spoilt);
        manifest_.Parse("", 0);
        List(200);
        if (spoilt >= 0)
            tree_.WriteFile("staged\\" + Name(spoilt), Name(spoilt) + "x");
        findings_ = Findings();
        EXPECT_EQ(Check(200), spoilt >= 0 ? 1u : 0u);
        EXPECT_TRUE(findings_.missing.empty());
        ASSERT_EQ(findings_.differing.size(), spoilt >= 0 ? 1u : 0u);
        if (spoilt >= 0) {
            EXPECT_NE(findings_.differing[0].find(Name(spoilt)), std::string::npos);
        }
    }
}

// A copy that cannot be read back is no copy of the listed file; a file
// hashed that the manifest does not list (the top-level Update.exe) is
// damage as well.
TEST_F(PackageCheckTest, AnUnreadableCopyAndAnUnlistedHashedFileAreDamage) {
    List(3);
    PackageCheck check(manifest_, TextString(tree_.Path("package").c_str()), Findings::Found,
                       &findings_);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(check.Admits(Name(i).c_str()));
    check.Verify(Name(0).c_str(), TextString(tree_.Path("staged\\" + Name(0)).c_str()));
    check.Verify(Name(1).c_str(), TextString(tree_.Path("staged\\gone.dat").c_str()));
    check.Verify(Name(2).c_str(), TextString(tree_.Path("staged\\" + Name(2)).c_str()));
    tree_.WriteFile("package\\Update.exe", "program");
    check.Verify("Update.exe", TextString(tree_.Path("package\\Update.exe").c_str()));
    EXPECT_EQ(check.Settle(true), 2u);
    EXPECT_EQ(findings_.differing.size(), 2u);
}

// Each listed file not handed in is missing, the first and the last in
// their order too.
TEST_F(PackageCheckTest, EveryListedFileNotFoundIsMissing) {
    List(5);
    EXPECT_EQ(Check(5, {0, 2, 4}), 3u);
    ASSERT_EQ(findings_.missing.size(), 3u);
    EXPECT_NE(findings_.missing[0].find(Name(0)), std::string::npos);
    EXPECT_NE(findings_.missing[2].find(Name(4)), std::string::npos);
}

} // namespace
