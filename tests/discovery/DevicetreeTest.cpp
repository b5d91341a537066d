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

TEST(MemoryDeviceTree, UnreadableKeysAndValuesCannotBeOpenedOrRead) {
    TMemoryDeviceTree tree;
    tree.SetValue("\\A\\Locked", "Name", "x");
    tree.SetValue("\\A\\Locked\\Inner", "Name", "y");
    tree.MakeKeyUnreadable("\\A\\Locked");
    tree.SetValue("\\A\\Open", "Good", "g");
    tree.MakeValueUnreadable("\\A\\Open", "Binary");

    EXPECT_FALSE(TDeviceTreeKey::OpenKeyReadOnly(tree, "\\A\\Locked").has_value());
    EXPECT_TRUE(tree.ValueNames("\\A\\Locked").empty());
    EXPECT_EQ(tree.ReadString("\\A\\Locked", "Name"), std::nullopt);
    EXPECT_EQ(tree.ReadString("\\A\\Locked\\Inner", "Name"), "y");  // a key's own rights decide

    auto open = TDeviceTreeKey::OpenKeyReadOnly(tree, "\\A\\Open");
    ASSERT_TRUE(open.has_value());
    EXPECT_EQ(open->GetValueNames(), (std::vector<std::string>{"Good", "Binary"}));
    EXPECT_EQ(open->ReadString("Binary"), std::nullopt);
    EXPECT_EQ(open->ReadString("Good"), "g");
}
