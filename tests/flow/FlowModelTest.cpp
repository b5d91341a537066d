// The diagram model: naming, geometry, unions, selection, deleting and the
// drawing order.
#include <gtest/gtest.h>

#include "flow/Tolmflow.h"
#include "toolkit/Exception.h"

namespace tolm {
namespace {

std::vector<std::string> NodeNames(const TTolmFlow& flow) {
    std::vector<std::string> names;
    for (int i = 0; i < flow.ObjectNode_Count(); ++i) names.push_back(flow.GetNodeAtIndex(i)->Name());
    return names;
}

TTolmFlow_Link* AddLink(TTolmFlow& flow, const std::string& name, std::vector<TFlowPoint> points,
                        TTolmFlow_Node* from = nullptr, TTolmFlow_Node* to = nullptr) {
    auto link = std::make_unique<TTolmFlow_Link>(&flow);
    link->SetName(name);
    link->SetPoints(std::move(points));
    link->Connect(from, to);
    TTolmFlow_Link* raw = link.get();
    flow.ObjectAddLink(std::move(link));
    return raw;
}

TEST(FlowNaming, EmptyNamesNumberFromZeroAndReuseAFreedNumber) {
    TTolmFlow flow;
    for (int i = 0; i < 3; ++i) flow.AddNode("", 0, 0, 10, 10);
    EXPECT_EQ(NodeNames(flow), (std::vector<std::string>{"Node_Object0", "Node_Object1", "Node_Object2"}));
    ASSERT_TRUE(flow.DeleteNodeAtName("Node_Object1"));
    EXPECT_EQ(flow.AddNode("", 0, 0, 10, 10)->Name(), "Node_Object1");
    EXPECT_EQ(flow.AddNode("", 0, 0, 10, 10)->Name(), "Node_Object3");
}

TEST(FlowNaming, AGivenNameAlsoGetsANumberAndUnionsHaveTheirOwnBase) {
    TTolmFlow flow;
    EXPECT_EQ(flow.AddNode("Start", 0, 0, 1, 1)->Name(), "Start0");
    EXPECT_EQ(flow.AddNode("Start", 0, 0, 1, 1)->Name(), "Start1");
    EXPECT_EQ(flow.AddUnion("")->Name(), "Union_Object0");
    EXPECT_EQ(flow.AddUnion("")->Name(), "Union_Object1");
}

TEST(FlowNaming, NamesMustBeIdentifiersAndUniqueAmongAllComponents) {
    TTolmFlow flow;
    TTolmFlow_Node* node = flow.AddNode("", 0, 0, 1, 1);
    for (const char* bad : {"", "1abc", "a b", "x-y", "\xC3\xA9t\xC3\xA9"})
        EXPECT_THROW(node->SetName(bad), EComponentError) << bad;
    EXPECT_EQ(node->Name(), "Node_Object0");

    TTolmFlow_Union* u = flow.AddUnion("");
    EXPECT_THROW(u->SetName("Node_Object0"), EComponentError);
    node->SetName("Node_Object0");  // its own name again is no clash
    node->SetName("_Free_9");
    u->SetName("Node_Object0");  // free again once the node gave it up
    EXPECT_THROW(flow.AddNode("9", 0, 0, 1, 1), EComponentError);
    EXPECT_EQ(flow.ObjectNode_Count(), 1);
}

TEST(FlowNaming, NewElementsPassOverNumbersThatAnotherKindHolds) {
    TTolmFlow flow;
    flow.AddUnion("")->SetName("Node_Object0");
    flow.AddNode("", 0, 0, 1, 1)->SetName("Union_Object0");
    flow.AddNode("", 0, 0, 1, 1)->SetName("Union_Object1");
    EXPECT_EQ(flow.AddNode("", 0, 0, 1, 1)->Name(), "Node_Object1");
    EXPECT_EQ(flow.AddUnion("")->Name(), "Union_Object2");
    EXPECT_EQ(flow.ObjectNode_Count(), 3);
    EXPECT_EQ(flow.ObjectUnion_Count(), 2);
}

TEST(FlowNaming, ANameFreedByADeletedElementCanBeTakenAgain) {
    TTolmFlow flow;
    flow.AddNode("Gone", 0, 0, 1, 1);
    ASSERT_TRUE(flow.DeleteNodeAtName("Gone0"));
    TTolmFlow_Union* u = flow.AddUnion("");
    EXPECT_NO_THROW(u->SetName("Gone0"));
}

TEST(FlowNode, DefaultsAndAddNodeSettings) {
    TTolmFlow flow;
    TTolmFlow_Node* node = flow.AddNode("", 100, 100, 100, 100);
    EXPECT_EQ(node->Shape(), 1);  // the control's shape 0 gives 1
    EXPECT_TRUE(node->Visible());
    EXPECT_TRUE(node->Transparent());
    EXPECT_EQ(node->BackColor(), RgbColor(212, 208, 200));
    EXPECT_EQ(node->BackColor(), 13160660u);
    EXPECT_EQ(node->Font().Name, "Times New Roman");
    EXPECT_TRUE(node->Font().Style.Bold && node->Font().Style.Italic);
    EXPECT_EQ(node->Text_Layout(), TLayout::Center_Middle);
    EXPECT_EQ(node->GradientStyle(), TGradientStyle::gsVertical);
    flow.SetShape(5);
    EXPECT_EQ(flow.AddNode("", 0, 0, 1, 1)->Shape(), 5);
    EXPECT_EQ(flow.GridColor(), 8421504u);
}

TEST(FlowNode, RightAndBottomEdgesAreKeptWhenLeftOrTopChange) {
    TTolmFlow_Node node;
    node.SetWidth(50);
    node.SetLeft(20);
    EXPECT_EQ(node.Width(), 30);
    node.SetHeight(40);
    node.SetTop(-10);
    EXPECT_EQ(node.Height(), 50);
    EXPECT_EQ(node.DisplayRect(), (TFlowRect{20, -10, 50, 40}));
    EXPECT_TRUE(node.Moved());
}

TEST(FlowUnion, RectangleOfALinkOnlyUnionAndOfNodes) {
    TTolmFlow flow;
    TTolmFlow_Union* u = flow.AddUnion("");
    EXPECT_FALSE(u->ReSetPosition());  // no members: rectangle kept
    u->Add_AtLinkObjects(AddLink(flow, "L", {{10, 10}, {50, 10}, {50, 80}}));
    EXPECT_EQ(u->DisplayRect(), (TFlowRect{10, 10, 50, 80}));

    // A link running up and left still gives a proper rectangle.
    TTolmFlow_Union* back = flow.AddUnion("");
    back->Add_AtLinkObjects(AddLink(flow, "Back", {{50, 80}, {5, 40}, {10, 10}}));
    EXPECT_EQ(back->DisplayRect(), (TFlowRect{5, 10, 50, 80}));

    // With nodes, the links do not widen it.
    u->Add_AtNodeObjects(flow.AddNode("", 20, 30, 10, 10));
    u->Add_AtNodeObjects(flow.AddNode("", 15, 40, 100, 5));
    EXPECT_TRUE(u->RectOutOfDate());
    EXPECT_EQ(u->P_Left_hand(), (TFlowPoint{15, 30}));
    EXPECT_EQ(u->P_Right_tail(), (TFlowPoint{115, 45}));
    EXPECT_FALSE(u->RectOutOfDate());
}

TEST(FlowUnion, MembershipIsByNameAndSetsTheFlag) {
    TTolmFlow flow;
    TTolmFlow_Node* a = flow.AddNode("", 0, 0, 1, 1);
    TTolmFlow_Union* u = flow.AddUnion("");
    u->Add_AtNodeObjects(a);
    u->Add_AtNodeObjects(a);
    EXPECT_EQ(u->AtNodeObjects_Count(), 1);
    EXPECT_TRUE(a->InUnion());
    u->Delete_AtNodeObjects(a);
    EXPECT_EQ(u->AtNodeObjects_Count(), 0);
    EXPECT_FALSE(a->InUnion());
    EXPECT_THROW(u->GetNodeAtIndex(0), EListError);
}

TEST(FlowDelete, DeletingAUnionByNameKeepsItsMembers) {
    TTolmFlow flow;
    TTolmFlow_Node* a = flow.AddNode("", 0, 0, 1, 1);
    TTolmFlow_Node* b = flow.AddNode("", 0, 0, 1, 1);
    TTolmFlow_Link* l = AddLink(flow, "L", {{0, 0}, {1, 1}}, a, b);
    TTolmFlow_Union* u = flow.AddUnion("G");
    u->Add_AtNodeObjects(a);
    u->Add_AtNodeObjects(b);
    u->Add_AtLinkObjects(l);
    flow.AddSelect_Union("G0");
    ASSERT_TRUE(flow.DeleteUnionAtName("G0"));
    EXPECT_EQ(flow.ObjectUnion_Count(), 0);
    EXPECT_EQ(flow.SelectObjectUnion_Count(), 0);
    EXPECT_EQ(flow.ObjectNode_Count(), 2);
    EXPECT_FALSE(a->InUnion());
    EXPECT_FALSE(b->InUnion());
    EXPECT_FALSE(l->InUnion());
    EXPECT_FALSE(flow.DeleteUnionAtName("G0"));
}

TEST(FlowDelete, DeletingANodeDissolvesItsFirstUnionAndLeavesNoStalePointers) {
    TTolmFlow flow;
    TTolmFlow_Node* a = flow.AddNode("", 0, 0, 10, 10);
    TTolmFlow_Node* b = flow.AddNode("", 20, 0, 10, 10);
    TTolmFlow_Node* c = flow.AddNode("", 40, 0, 10, 10);
    TTolmFlow_Node* d = flow.AddNode("", 60, 0, 10, 10);
    TTolmFlow_Union* first = flow.AddUnion("");
    for (auto* n : {a, b, c}) first->Add_AtNodeObjects(n);
    TTolmFlow_Union* second = flow.AddUnion("");
    second->Add_AtNodeObjects(b);
    second->Add_AtNodeObjects(d);
    TTolmFlow_Link* l = AddLink(flow, "L", {{10, 5}, {20, 5}}, a, b);
    flow.AddSelect_Node("Node_Object1");

    ASSERT_TRUE(flow.DeleteNodeAtName("Node_Object1"));
    EXPECT_EQ(NodeNames(flow), (std::vector<std::string>{"Node_Object0", "Node_Object2", "Node_Object3"}));
    EXPECT_EQ(flow.ObjectUnion_Count(), 1);
    EXPECT_EQ(flow.GetUnionAtIndex(0), second);
    EXPECT_FALSE(a->InUnion());
    EXPECT_FALSE(c->InUnion());
    // The second union keeps d but no longer refers to the freed node.
    ASSERT_EQ(second->AtNodeObjects_Count(), 1);
    EXPECT_EQ(second->GetNodeAtIndex(0), d);
    EXPECT_EQ(second->DisplayRect(), (TFlowRect{60, 0, 70, 10}));
    EXPECT_EQ(flow.SelectObjectNode_Count(), 0);
    EXPECT_EQ(l->BeginNode(), a);
    EXPECT_EQ(l->EndNode(), nullptr);
    EXPECT_FALSE(flow.DeleteNodeAtName("Node_Object1"));
}

TEST(FlowDelete, ByIndexKeepsUnionsButDropsTheFreedMember) {
    TTolmFlow flow;
    TTolmFlow_Node* a = flow.AddNode("", 0, 0, 10, 10);
    TTolmFlow_Node* b = flow.AddNode("", 0, 0, 10, 10);
    TTolmFlow_Union* u = flow.AddUnion("");
    u->Add_AtNodeObjects(a);
    u->Add_AtNodeObjects(b);
    flow.DeleteNodeAtIndex(0);
    EXPECT_EQ(flow.ObjectUnion_Count(), 1);
    ASSERT_EQ(u->AtNodeObjects_Count(), 1);
    EXPECT_EQ(u->GetNodeAtIndex(0), b);
    EXPECT_TRUE(b->InUnion());
    EXPECT_THROW(flow.DeleteNodeAtIndex(5), EListError);
    EXPECT_THROW(flow.DeleteNodeAtIndex(-1), EListError);
    EXPECT_THROW(flow.GetLinkAtIndex(0), EListError);
}

TEST(FlowDelete, DeletingALinkLeavesItsNodesUnionsAndPointSelection) {
    TTolmFlow flow;
    TTolmFlow_Node* a = flow.AddNode("", 0, 0, 10, 10);
    TTolmFlow_Node* b = flow.AddNode("", 50, 0, 10, 10);
    TTolmFlow_Link* l = AddLink(flow, "L", {{10, 5}, {50, 5}}, a, b);
    TTolmFlow_Union* u = flow.AddUnion("");
    u->Add_AtNodeObjects(a);
    u->Add_AtLinkObjects(l);
    flow.AddSelect_Link("L");
    flow.AddSelect_Point(l, 1);
    ASSERT_EQ(a->OutLinks().size(), 1u);
    ASSERT_EQ(b->InLinks().size(), 1u);

    ASSERT_TRUE(flow.DeleteLinkAtName("L"));
    EXPECT_TRUE(a->OutLinks().empty());
    EXPECT_TRUE(b->InLinks().empty());
    EXPECT_EQ(flow.ObjectUnion_Count(), 0);  // its union is dissolved
    EXPECT_FALSE(a->InUnion());
    EXPECT_EQ(flow.SelectObjectLink_Count(), 0);
    EXPECT_EQ(flow.SelectObjectPoint_Count(), 0);
}

TEST(FlowSelect, SelectingTwiceListsOnceAndClearingKeepsFlagsInStep) {
    TTolmFlow flow;
    TTolmFlow_Node* a = flow.AddNode("", 0, 0, 1, 1);
    TTolmFlow_Node* b = flow.AddNode("", 0, 0, 1, 1);
    flow.AddSelect_Node("Node_Object0");
    flow.AddSelect_Node("Node_Object0");
    flow.AddSelect_Node("Node_Object1");
    flow.AddSelect_Node("Missing");
    ASSERT_EQ(flow.SelectObjectNode_Count(), 2);
    EXPECT_EQ(flow.GetSelectNodeAtIndex(0), a);
    EXPECT_TRUE(a->Select());
    flow.ClearSelect_Node("Node_Object0");
    EXPECT_FALSE(a->Select());
    EXPECT_EQ(flow.GetSelectNodeAtIndex(0), b);
    flow.ClearSelectAll_Node();
    EXPECT_FALSE(b->Select());
    EXPECT_EQ(flow.SelectObjectNode_Count(), 0);
    EXPECT_THROW(flow.GetSelectNodeAtIndex(0), EListError);
}

TEST(FlowOrder, SendToBackAndBringToFrontMoveTheSameNodeWithAllItHolds) {
    TTolmFlow flow;
    TTolmFlow_Node* a = flow.AddNode("", 0, 0, 10, 10);
    TTolmFlow_Node* b = flow.AddNode("", 0, 0, 10, 10);
    TTolmFlow_Node* c = flow.AddNode("", 0, 0, 10, 10);
    c->SetTransparent(false);
    c->SetGradientStyle(TGradientStyle::gsRectangle);
    TTolmFlow_Link* l = AddLink(flow, "L", {{0, 0}, {5, 5}}, c, a);
    TTolmFlow_Union* u = flow.AddUnion("");
    u->Add_AtNodeObjects(c);
    flow.AddSelect_Node(c->Name());

    flow.SendToBack(c);
    EXPECT_EQ(NodeNames(flow), (std::vector<std::string>{"Node_Object2", "Node_Object0", "Node_Object1"}));
    EXPECT_EQ(flow.GetNodeAtIndex(0), c);
    EXPECT_FALSE(c->Transparent());
    EXPECT_EQ(c->GradientStyle(), TGradientStyle::gsRectangle);
    EXPECT_EQ(l->BeginNode(), c);
    EXPECT_TRUE(u->HasNode(c));
    EXPECT_TRUE(c->Select());

    flow.BringToFront(a);
    EXPECT_EQ(NodeNames(flow), (std::vector<std::string>{"Node_Object2", "Node_Object1", "Node_Object0"}));
    EXPECT_EQ(flow.GetNodeAtIndex(1), b);
}

TEST(FlowLink, MidpointShapeAddsAMidpointAfterEachCorner) {
    TTolmFlow_Link link;
    link.SetPoints({{0, 0}, {10, 0}, {10, 20}});
    EXPECT_EQ(link.DrawPoints(), link.Points());
    link.SetShape(11);
    EXPECT_EQ(link.DrawPoints(), (std::vector<TFlowPoint>{{0, 0}, {5, 0}, {10, 0}, {10, 10}, {10, 20}}));
}

TEST(FlowLifetime, ElementsOutsideTheListsSurviveTheirDiagram) {
    auto flow = std::make_unique<TTolmFlow>();
    auto loose = std::make_unique<TTolmFlow_Node>(flow.get());
    loose->SetName("Loose");
    EXPECT_EQ(flow->FindComponent("Loose"), loose.get());
    EXPECT_THROW(flow->AddNode("Loose", 0, 0, 1, 1)->SetName("Loose"), EComponentError);
    TTolmFlow_Node* owned = flow->AddNode("", 0, 0, 1, 1);
    auto link = std::make_unique<TTolmFlow_Link>(flow.get());
    link->Connect(owned, loose.get());
    flow.reset();
    EXPECT_EQ(loose->Owner(), nullptr);
    EXPECT_EQ(link->BeginNode(), nullptr);  // the freed node left the link
    EXPECT_EQ(link->EndNode(), loose.get());
    link.reset();
    EXPECT_TRUE(loose->InLinks().empty());
}

TEST(FlowRepaint, ObserversHearChangesUntilRemoved) {
    TTolmFlow flow;
    int calls = 0;
    int id = flow.AddRepaintObserver([&calls] { ++calls; });
    flow.AddNode("", 0, 0, 1, 1);
    flow.SetShowGrid(true);
    EXPECT_EQ(calls, 2);
    flow.RemoveRepaintObserver(id);
    flow.Repaint();
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace tolm
