#include <gtest/gtest.h>

#include "platform/Devicetree.h"

using namespace tolm;

TEST(MemoryDeviceTree, KeysAndValuesKeepTheirOrderAndMatchAnyCase) {
    TMemoryDeviceTree tree;
    tree.SetValue("\\A\\B", "First", "1");
    tree.SetValue("\\A\\B", "second", "2");
    tree.AddKey("\\A\\Z");
    tree.AddKey("\\A\\C");
    tree.SetValue("\\a\\b", "FIRST", "one");  // replaces, keeps its place

    EXPECT_TRUE(tree.KeyExists("A\\b\\"));
    EXPECT_TRUE(tree.KeyExists("\\\\A\\\\B"));
    EXPECT_FALSE(tree.KeyExists("\\A\\B\\X"));
    EXPECT_EQ(tree.KeyNames("\\A"), (std::vector<std::string>{"B", "Z", "C"}));
    EXPECT_EQ(tree.ValueNames("\\A\\B"), (std::vector<std::string>{"First", "second"}));
    EXPECT_EQ(tree.ReadString("\\A\\B", "first"), "one");
    EXPECT_EQ(tree.ReadString("\\A\\B", "third"), std::nullopt);
    EXPECT_EQ(tree.ReadString("\\A\\Q", "first"), std::nullopt);
    EXPECT_TRUE(tree.KeyNames("\\nowhere").empty());
}
