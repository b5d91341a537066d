// The diagram file: node and union lines, the value encodings, both readers,
// and failures while reading and writing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "TestSupport.h"
#include "flow/Tolmflow.h"
#include "toolkit/Exception.h"

namespace tolm {
namespace {

using test::TempDir;

const std::string kDefaultNodeLine =
    "Node Name=Node_Object0, Left=100, Top=100, Height=100, Width=100, Shape=1, Tag=0, Text_Layout=7, "
    "Visible=true, Lock=false, Key=, Run=, Lines=, LineWidth=1, LineColor=0&CO;0&CO;0, "
    "BackColor=212&CO;208&CO;200, Font=[Font: charset=1&CO; name=Times New Roman&CO; size=8&CO;style=BI&CO; "
    "color=0&amp;CO;0&amp;CO;0&CO; ], BeginColor=0&CO;0&CO;0, EndColor=0&CO;0&CO;0, Bitmap=000000000";

// A node with every stored property away from its default.
void FillNode(TTolmFlow_Node* n, int seed) {
    n->SetLeft(-5 + seed);
    n->SetTop(7);
    n->SetWidth(150);
    n->SetHeight(80 + seed);
    n->SetShape(3);
    n->SetTag(-42 - seed);
    n->SetText_Layout(TLayout::Right_Justify_Bottom);
    n->SetVisible(false);
    n->SetLock(true);
    // Line ends inside values must not split the node line; "&CR;" typed as text stays text.
    n->SetKey("k<=&<>'\",x>=y &amp; &Enter; = &CR;&LF;\r\nnext");
    n->SetRun("run \"a\", 'b' & c\n");
    n->Lines() = {"first, line", "<tag attr='v'>", "a&b", "", ">= <= \"q\"", "cr\rlf\nboth\r\n"};
    n->SetLineWidth(3);
    n->SetLineColor(RgbColor(1, 2, 3));
    n->SetBackColor(RgbColor(255, 0, 128));
    n->SetBeginColor(RgbColor(10, 20, 30));
    n->SetEndColor(RgbColor(200, 100, 50));
    TFlowFont& f = n->Font();
    f.Charset = 136;
    f.Name = "Noto, Sans & Co";
    f.Size = 14;
    f.Style = {true, true, true, true};
    f.Color = RgbColor(9, 8, 7);
    n->Image().SetPixelFormat(6);
    n->Image().SetSize(40, 30);
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 30; ++y) n->Image().SetPixel(x, y, RgbColor(x * 6, y * 8, (x + y + seed) % 256));
}

void ExpectSameStoredProperties(const TTolmFlow_Node& a, const TTolmFlow_Node& b) {
    EXPECT_EQ(a.Name(), b.Name());
    EXPECT_EQ(a.DisplayRect(), b.DisplayRect());
    EXPECT_EQ(a.Shape(), b.Shape());
    EXPECT_EQ(a.Tag(), b.Tag());
    EXPECT_EQ(a.Text_Layout(), b.Text_Layout());
    EXPECT_EQ(a.Visible(), b.Visible());
    EXPECT_EQ(a.Lock(), b.Lock());
    EXPECT_EQ(a.Key(), b.Key());
    EXPECT_EQ(a.Run(), b.Run());
    EXPECT_EQ(a.Lines(), b.Lines());
    EXPECT_EQ(a.LineWidth(), b.LineWidth());
    EXPECT_EQ(a.LineColor(), b.LineColor());
    EXPECT_EQ(a.BackColor(), b.BackColor());
    EXPECT_EQ(a.BeginColor(), b.BeginColor());
    EXPECT_EQ(a.EndColor(), b.EndColor());
    EXPECT_EQ(a.Font(), b.Font());
    EXPECT_EQ(a.Image(), b.Image());
}

TEST(FlowNodeLine, DefaultNodeGivesTheDocumentedLine) {
    TTolmFlow flow;
    EXPECT_EQ(flow.AddNode("", 100, 100, 100, 100)->GetNodeStructure(), kDefaultNodeLine);
}

TEST(FlowNodeLine, LinesAreJoinedEscapedAndSplitBack) {
    TTolmFlow flow;
    TTolmFlow_Node* n = flow.AddNode("", 0, 0, 1, 1);
    n->Lines() = {"a,b", "c"};
    const std::string line = n->GetNodeStructure();
    EXPECT_NE(line.find(", Lines=a&CO;b&amp;Enter;c, "), std::string::npos) << line;
    n->SetNodeStructure("Lines=a&CO;b&amp;Enter;c");
    EXPECT_EQ(n->Lines(), (std::vector<std::string>{"a,b", "c"}));
    n->SetNodeStructure("Lines=");
    EXPECT_EQ(n->Lines(), (std::vector<std::string>{""}));
}

TEST(FlowNodeLine, FieldsApplyInOrderAndUnknownKeysAreIgnored) {
    TTolmFlow flow;
    TTolmFlow_Node* n = flow.AddNode("", 100, 100, 100, 100);
    n->SetNodeStructure("Left=5, Top=7, Height=30, Width=40, Colour=1, Visible=TRUE, Key=a=b, Lock=true");
    EXPECT_EQ(n->DisplayRect(), (TFlowRect{5, 7, 45, 37}));
    EXPECT_FALSE(n->Visible());  // only exactly "true"
    EXPECT_TRUE(n->Lock());
    EXPECT_EQ(n->Key(), "a=b");
    EXPECT_THROW(n->SetNodeStructure("Tag=12x"), EConvertError);
    EXPECT_THROW(n->SetNodeStructure("Text_Layout=9"), EConvertError);
    EXPECT_THROW(n->SetNodeStructure("Left="), EConvertError);
}

TEST(FlowValueText, Colours) {
    EXPECT_EQ(TTolmFlow_Node::GetColorToAnsiString(RgbColor(212, 208, 200)), "212,208,200");
    EXPECT_EQ(TTolmFlow_Node::SetAnsiStringTocolor("212,208,200"), RgbColor(212, 208, 200));
    TTolmFlow flow;
    TTolmFlow_Node* n = flow.AddNode("", 0, 0, 1, 1);
    n->SetNodeStructure("BackColor=212&CO;208&CO;200, LineColor=0&CO;0&CO;255");
    EXPECT_EQ(n->BackColor(), 13160660u);
    EXPECT_EQ(n->LineColor(), 0xFF0000u);
    EXPECT_THROW(TTolmFlow_Node::SetAnsiStringTocolor("1,2"), EConvertError);
    EXPECT_THROW(TTolmFlow_Node::SetAnsiStringTocolor("1,256,3"), EConvertError);
}

TEST(FlowValueText, PicturesGoColumnByColumn) {
    TTolmFlow_Node n;
    n.SetAnsiStringToBitmap("000010001FF1234");
    ASSERT_EQ(n.Image().Width(), 1);
    ASSERT_EQ(n.Image().Height(), 1);
    EXPECT_EQ(n.Image().Pixel(0, 0), 0x00FF1234u);

    // 2 x 3: the groups fill column 0 top to bottom, then column 1.
    n.SetAnsiStringToBitmap("700020003000001000002000003000004000005000006");
    EXPECT_EQ(n.Image().PixelFormat(), 7);
    EXPECT_EQ(n.Image().Pixel(0, 2), 3u);
    EXPECT_EQ(n.Image().Pixel(1, 0), 4u);
    EXPECT_EQ(TTolmFlow_Node::GetBitmapToAnsiString(n.Image()), "700020003000001000002000003000004000005000006");

    // Missing pixels stay white, surplus groups and a zero height are harmless.
    n.SetAnsiStringToBitmap("000020002000001");
    EXPECT_EQ(n.Image().Pixel(0, 0), 1u);
    EXPECT_EQ(n.Image().Pixel(1, 1), clWhite);
    n.SetAnsiStringToBitmap("000050000000001000002");
    EXPECT_TRUE(n.Image().Empty());
    n.SetAnsiStringToBitmap("");
    EXPECT_TRUE(n.Image().Empty());
    EXPECT_THROW(n.SetAnsiStringToBitmap("0FFFFFFFF"), EConvertError);  // too large to hold
    EXPECT_THROW(n.SetAnsiStringToBitmap("0000100010000GG"), EConvertError);
}

TEST(FlowValueText, HexToInt) {
    EXPECT_EQ(TTolmFlow_Node::HexToInt("0x1A"), 26);
    EXPECT_EQ(TTolmFlow_Node::HexToInt("1A"), 26);
    EXPECT_EQ(TTolmFlow_Node::HexToInt("FF1234"), 0xFF1234);
    EXPECT_EQ(TTolmFlow_Node::HexToInt("0000019"), 1);  // digits after the sixth are ignored
    EXPECT_EQ(TTolmFlow_Node::HexToInt(""), 0);
    EXPECT_THROW(TTolmFlow_Node::HexToInt("12G"), EConvertError);
}

TEST(FlowValueText, FontTextAndItsFields) {
    TFlowFont font;
    font.Style = {true, false, false, false};
    EXPECT_EQ(TTolmFlow_Node::GetFontToAnsiString(font),
              "[Font: charset=1, name=Times New Roman, size=8,style=B, color=0&CO;0&CO;0, ]");
    TTolmFlow_Node n;
    n.SetAnsiStringToFont("[Font: size=12,style=, name=Arial]");
    EXPECT_EQ(n.Font().Size, 12);
    EXPECT_EQ(n.Font().Name, "Arial");
    EXPECT_EQ(n.Font().Style, TFontStyles{});
    EXPECT_EQ(n.Font().Charset, 1);  // fields not given stay
    n.SetAnsiStringToFont("[Fonts: size=99]");
    EXPECT_EQ(n.Font().Size, 12);
    EXPECT_THROW(n.SetAnsiStringToFont("[Font: size=big, name=X]"), EConvertError);
    EXPECT_EQ(n.Font().Name, "Arial");  // a bad font text changes nothing
}

TEST(FlowFile, RoundTripOfEveryStoredPropertyWithBothReaders) {
    TempDir dir;
    TTolmFlow flow;
    FillNode(flow.AddNode("Special_", 0, 0, 1, 1), 0);
    FillNode(flow.AddNode("", 0, 0, 1, 1), 1);
    flow.AddNode("", 300, 300, 20, 20)->Lines() = {"plain"};
    TTolmFlow_Union* u = flow.AddUnion("");
    u->Add_AtNodeObjects(flow.GetNodeAtIndex(2));
    u->Add_AtNodeObjects(flow.GetNodeAtIndex(0));
    u->SetTag(-7);
    flow.SaveToFile(dir.File("d.flow"));

    const std::string text = dir.Read("d.flow");
    EXPECT_NE(text.find("\r\nUnion Name=Union_Object0, Node=Node_Object1&CO; Special_0, Link=, Tag=-7\r\n"),
              std::string::npos);

    TTolmFlow lines, chars;
    lines.OpenToFile(dir.File("d.flow"));
    chars.OPenToFile_v(dir.File("d.flow"));
    ASSERT_EQ(lines.ObjectNode_Count(), 3);
    ASSERT_EQ(chars.ObjectNode_Count(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ExpectSameStoredProperties(*flow.GetNodeAtIndex(i), *lines.GetNodeAtIndex(i));
        ExpectSameStoredProperties(*flow.GetNodeAtIndex(i), *chars.GetNodeAtIndex(i));
    }
    EXPECT_EQ(chars.ObjectUnion_Count(), 0);  // the character reader reads nodes only
    ASSERT_EQ(lines.ObjectUnion_Count(), 1);
    TTolmFlow_Union* back = lines.GetUnionAtIndex(0);
    EXPECT_EQ(back->Name(), "Union_Object0");
    EXPECT_EQ(back->Tag(), -7);
    ASSERT_EQ(back->AtNodeObjects_Count(), 2);
    EXPECT_EQ(back->GetNodeAtIndex(0)->Name(), "Node_Object1");
    EXPECT_EQ(back->GetNodeAtIndex(1)->Name(), "Special_0");

    // Saving what was read gives the same file.
    lines.SaveToFile(dir.File("again.flow"));
    EXPECT_EQ(dir.Read("again.flow"), text);
}

TEST(FlowFile, Big5TextKeepsItsBytesAndDecodesInTheDiagramsCodePage) {
    // A node line as an operator's station writes it: 8-bit text in code page 950.
    const std::string big5Middle = "\xA4\xA4\xA4\xE5";  // "中文"
    const std::string big5Font = "\xB2\xD3\xA9\xFA\xC5\xE9";  // "細明體"
    std::string line = kDefaultNodeLine;
    line.replace(line.find("Lines="), 6, "Lines=" + big5Middle + "&amp;Enter;\xB4\xFA\xB8\xD5");  // "測試"
    line.replace(line.find("Times New Roman"), 15, big5Font);
    line.replace(line.find("Key="), 4, "Key=\xB3\x5C");  // "許": its second byte is a backslash
    TempDir dir;
    dir.Write("b.flow", line + "\r\n");

    TTolmFlow flow;
    EXPECT_EQ(flow.CodePage(), 950);
    flow.OpenToFile(dir.File("b.flow"));
    ASSERT_EQ(flow.ObjectNode_Count(), 1);
    const TTolmFlow_Node& node = *flow.GetNodeAtIndex(0);
    ASSERT_EQ(node.Lines().size(), 2u);
    EXPECT_EQ(node.Lines()[0], big5Middle);
    EXPECT_EQ(flow.DecodeText(node.Lines()[0]), "中文");
    EXPECT_EQ(flow.DecodeText(node.Lines()[1]), "測試");
    EXPECT_EQ(flow.DecodeText(node.Font().Name), "細明體");
    EXPECT_EQ(flow.DecodeText(node.Key()), "許");
    EXPECT_EQ(flow.EncodeText("中文"), big5Middle) << "edited text is stored in the code page";

    flow.SaveToFile(dir.File("again.flow"));
    EXPECT_TRUE(dir.Read("again.flow") == line + "\r\n") << "reading and saving changed bytes";
}

TEST(FlowFile, ReadingTheSameFileTwiceFailsOnTheNameAndKeepsTheFirstRead) {
    TempDir dir;
    TTolmFlow source;
    FillNode(source.AddNode("", 0, 0, 1, 1), 0);
    source.AddNode("", 10, 10, 5, 5)->Lines() = {"second"};
    source.SaveToFile(dir.File("d.flow"));

    for (bool byChar : {false, true}) {
        SCOPED_TRACE(byChar);
        TTolmFlow flow;
        auto read = [&] { byChar ? flow.OPenToFile_v(dir.File("d.flow")) : flow.OpenToFile(dir.File("d.flow")); };
        read();
        ASSERT_EQ(flow.ObjectNode_Count(), 2);
        EXPECT_THROW(read(), EComponentError);
        ASSERT_EQ(flow.ObjectNode_Count(), 2);
        ExpectSameStoredProperties(*source.GetNodeAtIndex(0), *flow.GetNodeAtIndex(0));
        ExpectSameStoredProperties(*source.GetNodeAtIndex(1), *flow.GetNodeAtIndex(1));
    }
}

TEST(FlowFile, ANodeNamedLikeANewUnionDoesNotStopTheDiagramReadingBack) {
    // A union is read after every node: its provisional name must not clash
    // with a node that took that name.
    TempDir dir;
    TTolmFlow source;
    TTolmFlow_Union* group = source.AddUnion("");
    group->SetName("Group");
    TTolmFlow_Node* node = source.AddNode("", 0, 0, 1, 1);
    node->SetName("Union_Object0");
    group->Add_AtNodeObjects(node);
    source.SaveToFile(dir.File("d.flow"));

    for (bool byChar : {false, true}) {
        SCOPED_TRACE(byChar);
        TTolmFlow flow;
        ASSERT_NO_THROW(byChar ? flow.OPenToFile_v(dir.File("d.flow")) : flow.OpenToFile(dir.File("d.flow")));
        ASSERT_EQ(flow.ObjectNode_Count(), 1);
        EXPECT_EQ(flow.GetNodeAtIndex(0)->Name(), "Union_Object0");
        if (byChar) continue;  // the character reader reads no unions
        ASSERT_EQ(flow.ObjectUnion_Count(), 1);
        EXPECT_EQ(flow.GetUnionAtIndex(0)->Name(), "Group");
        EXPECT_EQ(flow.GetUnionAtIndex(0)->AtNodeObjects_Count(), 1);
        flow.SaveToFile(dir.File("again.flow"));
        EXPECT_EQ(dir.Read("again.flow"), dir.Read("d.flow"));
    }
}

TEST(FlowFile, PicturesDeclaringFarMorePixelsThanTheFileHoldsStopTheRead) {
    // Each line asks for a white 4095 x 4095 picture (64 MB) in 22 bytes.
    TempDir dir;
    std::string text;
    for (int i = 0; i < 40; ++i) text += "Node Bitmap=00FFF0FFF\r\n";
    dir.Write("big.flow", text);
    TTolmFlow flow;
    EXPECT_THROW(flow.OpenToFile(dir.File("big.flow")), EConvertError);
    // One picture of the largest size fits; the next is refused with its node.
    ASSERT_EQ(flow.ObjectNode_Count(), 1);
    EXPECT_EQ(flow.GetNodeAtIndex(0)->Image().Width(), 4095);
    EXPECT_EQ(flow.GetNodeAtIndex(0)->Image().Height(), 4095);
}

TEST(FlowFile, UnionMembersThatDoNotExistAreSkipped) {
    TempDir dir;
    dir.Write("u.flow",
              "Node Name=A\r\nNode Name=B\r\n"
              "Union Name=G, Node=A&CO; Ghost&CO;  B &CO;&CO; A, Link=L1&CO; L2, Tag=3\r\n");
    TTolmFlow flow;
    flow.OpenToFile(dir.File("u.flow"));
    ASSERT_EQ(flow.ObjectUnion_Count(), 1);
    TTolmFlow_Union* u = flow.GetUnionAtIndex(0);
    EXPECT_EQ(u->Name(), "G");
    ASSERT_EQ(u->AtNodeObjects_Count(), 2);
    EXPECT_EQ(u->GetNodeAtIndex(0)->Name(), "A");
    EXPECT_EQ(u->GetNodeAtIndex(1)->Name(), "B");
    EXPECT_EQ(u->AtLinkObjects_Count(), 0);
    EXPECT_EQ(u->Tag(), 3);
}

TEST(FlowFile, LineEndsOfEveryKindAndALastLineWithoutOne) {
    TempDir dir;
    dir.Write("mixed.flow", "Node Name=A, Tag=1\nJunk line\r\nNode Name=B, Key=end, Tag=22");
    TTolmFlow flow;
    flow.OpenToFile(dir.File("mixed.flow"));
    ASSERT_EQ(flow.ObjectNode_Count(), 2);
    EXPECT_EQ(flow.GetNodeAtIndex(0)->Tag(), 1);
    EXPECT_EQ(flow.GetNodeAtIndex(1)->Key(), "end");
    EXPECT_EQ(flow.GetNodeAtIndex(1)->Tag(), 22);  // the last character is not lost

    TTolmFlow byChar;
    dir.Write("lf.flow", "Node Name=A, Tag=1\nNode Name=B, Tag=22");
    byChar.OPenToFile_v(dir.File("lf.flow"));
    ASSERT_EQ(byChar.ObjectNode_Count(), 2);
    EXPECT_EQ(byChar.GetNodeAtIndex(0)->Tag(), 1);
    EXPECT_EQ(byChar.GetNodeAtIndex(1)->Tag(), 22);
}

TEST(FlowFile, LinesLongerThanAnyFixedBufferAreReadWhole) {
    TempDir dir;
    TTolmFlow flow;
    TTolmFlow_Node* n = flow.AddNode("", 0, 0, 1, 1);
    n->SetKey(std::string(6'000'000, 'k') + ",end");
    n->Lines() = {std::string(3000, '<'), "x"};
    flow.SaveToFile(dir.File("long.flow"));
    TTolmFlow lines, chars;
    lines.OpenToFile(dir.File("long.flow"));
    chars.OPenToFile_v(dir.File("long.flow"));
    EXPECT_EQ(lines.GetNodeAtIndex(0)->Key(), n->Key());
    EXPECT_EQ(chars.GetNodeAtIndex(0)->Key(), n->Key());
    EXPECT_EQ(lines.GetNodeAtIndex(0)->Lines(), n->Lines());
}

TEST(FlowFile, ABadNumberStopsReadingAndLeavesNothingOfItsLine) {
    TempDir dir;
    dir.Write("bad.flow", "Node Name=A\r\nNode Name=B, Left=12a\r\nNode Name=C\r\n");
    TTolmFlow flow;
    EXPECT_THROW(flow.OpenToFile(dir.File("bad.flow")), EConvertError);
    ASSERT_EQ(flow.ObjectNode_Count(), 1);
    EXPECT_EQ(flow.GetNodeAtIndex(0)->Name(), "A");
    EXPECT_EQ(flow.FindComponent("B"), nullptr);
}

TEST(FlowFile, CharacterReaderSkipsUnknownFieldsAndEndsAtUnions) {
    TempDir dir;
    dir.Write("v.flow",
              "Node Name=A, Extra=1, Tag=5, Bitmap=000010001FF1234\r\n"
              "Node Name=B, Tag=6\r\n"
              "Union Name=G, Node=A, Link=, Tag=0\r\n"
              "Node Name=C\r\n");
    TTolmFlow flow;
    flow.OPenToFile_v(dir.File("v.flow"));
    ASSERT_EQ(flow.ObjectNode_Count(), 2);
    EXPECT_EQ(flow.GetNodeAtIndex(0)->Tag(), 5);
    EXPECT_EQ(flow.GetNodeAtIndex(0)->Image().Pixel(0, 0), 0xFF1234u);
    EXPECT_EQ(flow.GetNodeAtIndex(1)->Tag(), 6);
    EXPECT_EQ(flow.ObjectUnion_Count(), 0);
}

TEST(FlowFile, FilesThatCannotBeOpenedRaiseNamingThePath) {
    TempDir dir;
    TTolmFlow flow;
    const std::string missing = dir.File("nowhere/d.flow");
    for (auto op : {&TTolmFlow::OpenToFile, &TTolmFlow::OPenToFile_v}) {
        try {
            (flow.*op)(missing);
            ADD_FAILURE() << "no error";
        } catch (const EFOpenError& e) {
            EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(flow.OpenToFile(dir.Path()), EFOpenError);
#ifndef _WIN32
    ASSERT_EQ(mkfifo(dir.File("fifo.flow").c_str(), 0600), 0);
    EXPECT_THROW(flow.OpenToFile(dir.File("fifo.flow")), EFOpenError) << "a FIFO nobody writes is not waited on";
#endif
    try {
        flow.SaveToFile(missing);
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
}

TEST(FlowFile, SavingReplacesTheFileWholeAndKeepsItsPermissions) {
    TempDir dir;
    dir.Write("d.flow", std::string(100000, 'x'));
    ::chmod(dir.File("d.flow").c_str(), 0640);
    TTolmFlow flow;
    flow.AddNode("", 100, 100, 100, 100);
    flow.SaveToFile(dir.File("d.flow"));
    EXPECT_EQ(dir.Read("d.flow"), kDefaultNodeLine + "\r\n");
#ifndef _WIN32  // Windows keeps no such permission bits
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("d.flow").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
    TTolmFlow empty;
    empty.SaveToFile(dir.File("d.flow"));
    EXPECT_EQ(dir.Read("d.flow"), "");
}

}  // namespace
}  // namespace tolm
