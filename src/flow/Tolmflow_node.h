#pragma once
// One box of a flow diagram: position (kept as left/top and right/bottom
// edges), text lines with a font and layout, colours, gradient and picture,
// and the links arriving at and leaving it. A node turns itself into its
// line of the diagram file and back.
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "flow/Flowcomponent.h"
#include "flow/Flowvalues.h"

namespace tolm {

class TTolmFlow_Link;

class TTolmFlow_Node : public TFlowComponent {
public:
    explicit TTolmFlow_Node(TTolmFlow* owner = nullptr);
    ~TTolmFlow_Node() override;

    static bool IsNull(const TTolmFlow_Node* node) { return node == nullptr; }

    // Published properties, in declared order.
    const std::string& Key() const { return key_; }
    void SetKey(const std::string& v) { key_ = v; }
    const std::string& Run() const { return run_; }
    void SetRun(const std::string& v) { run_ = v; }
    int Shape() const { return shape_; }
    void SetShape(int v) { shape_ = v; }
    // Setting Width stores Left + width as the right edge; a later change of
    // Left keeps that edge, so it changes the width (Top/Height alike).
    int Left() const { return left_; }
    void SetLeft(int v);
    int Top() const { return top_; }
    void SetTop(int v);
    int Width() const;
    void SetWidth(int v);
    int Height() const;
    void SetHeight(int v);
    int Tag() const { return tag_; }
    void SetTag(int v) { tag_ = v; }
    bool Visible() const { return visible_; }
    void SetVisible(bool v) { visible_ = v; }
    // Kept in step with the diagram's selection list: select through
    // TTolmFlow::AddSelect_Node / ClearSelect_Node.
    bool Select() const { return select_; }
    bool Lock() const { return lock_; }
    void SetLock(bool v) { lock_ = v; }
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool v) { transparent_ = v; }
    bool ClickRun() const { return clickRun_; }
    void SetClickRun(bool v) { clickRun_ = v; }
    int LineWidth() const { return lineWidth_; }
    void SetLineWidth(int v) { lineWidth_ = v; }
    TColor LineColor() const { return lineColor_; }
    void SetLineColor(TColor v) { lineColor_ = v; }
    TColor BackColor() const { return backColor_; }
    void SetBackColor(TColor v) { backColor_ = v; }
    const TFlowPicture& Image() const { return image_; }
    TFlowPicture& Image() { return image_; }
    TLayout Image_Layout() const { return imageLayout_; }
    void SetImage_Layout(TLayout v) { imageLayout_ = v; }
    const TFlowFont& Font() const { return font_; }
    TFlowFont& Font() { return font_; }
    TColor BeginColor() const { return beginColor_; }
    void SetBeginColor(TColor v) { beginColor_ = v; }
    TColor EndColor() const { return endColor_; }
    void SetEndColor(TColor v) { endColor_ = v; }
    TGradientStyle GradientStyle() const { return gradientStyle_; }
    void SetGradientStyle(TGradientStyle v) { gradientStyle_ = v; }
    const std::vector<std::string>& Lines() const { return lines_; }
    std::vector<std::string>& Lines() { return lines_; }
    TLayout Text_Layout() const { return textLayout_; }
    void SetText_Layout(TLayout v) { textLayout_ = v; }

    // Set by every change of Left, Top, Width or Height, for the painting code.
    bool Moved() const { return moved_; }
    void ClearMoved() { moved_ = false; }
    bool InUnion() const { return inUnion_; }

    // Links arriving at (In) and leaving (Out) the node; not owned. Adding a
    // link already listed does nothing.
    void Add_AtInLinkObjects(TTolmFlow_Link* link);
    void Add_AtOutLinkObjects(TTolmFlow_Link* link);
    void Delete_AtInLinkObjects(TTolmFlow_Link* link);
    void Delete_AtOutLinkObjects(TTolmFlow_Link* link);
    const std::vector<TTolmFlow_Link*>& InLinks() const { return inLinks_; }
    const std::vector<TTolmFlow_Link*>& OutLinks() const { return outLinks_; }

    TFlowPoint P_Left_hand() const { return {left_, top_}; }
    TFlowPoint P_Right_tail() const { return {right_, bottom_}; }
    TFlowRect DisplayRect() const { return {left_, top_, right_, bottom_}; }

    // The node line of a diagram file, from "Node " to the picture, without
    // a line end.
    std::string GetNodeStructure() const;
    // Applies the fields of a node line given without "Node " and line end.
    // Fields are applied in their order; a field that fails (conversion or
    // component-name error) raises, leaving the earlier ones applied.
    void SetNodeStructure(const std::string& text);
    // Reads the fields of one node line from in, positioned just after
    // "Node ", and applies them; reading ends after the picture, or at the
    // line's end when a line has no picture field.
    void SetNodeStructure_FilePoint(std::istream& in);
    // Applies one field as the node line reader does; unknown keys are ignored.
    void ApplyField(const std::string& key, const std::string& value);

    // Text forms of the node's values (see the diagram file format).
    static std::string GetColorToAnsiString(TColor color);        // "212,208,200"
    static TColor SetAnsiStringTocolor(const std::string& text);  // EConvertError on bad text
    static std::string GetFontToAnsiString(const TFlowFont& font);
    void SetAnsiStringToFont(const std::string& text);  // applies the fields present to Font
    static std::string GetBitmapToAnsiString(const TFlowPicture& picture);
    void SetAnsiStringToBitmap(const std::string& text);  // fills Image
    static std::string GetTStringToAnsiString(const std::vector<std::string>& lines);
    void SetAnsiStringToTString(const std::string& text);  // fills Lines
    // Six hex digits (after an optional "0x", padded on the left with "0");
    // a character that is no hex digit raises EConvertError.
    static int32_t HexToInt(const std::string& text);

private:
    friend class TTolmFlow;        // keeps Select in step with its selection list
    friend class TTolmFlow_Union;  // sets the union flag
    void ReadPicture(std::istream& in);

    std::string key_, run_;
    int shape_ = 0;
    int left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
    int tag_ = 0;
    bool visible_ = true;
    bool select_ = false;
    bool lock_ = false;
    bool transparent_ = true;
    bool clickRun_ = false;
    int lineWidth_ = 1;
    TColor lineColor_ = clBlack;
    TColor backColor_ = RgbColor(212, 208, 200);
    TFlowPicture image_;
    TLayout imageLayout_ = TLayout::Center_Middle;
    TFlowFont font_;
    TColor beginColor_ = clBlack, endColor_ = clBlack;
    TGradientStyle gradientStyle_ = TGradientStyle::gsVertical;
    std::vector<std::string> lines_;
    TLayout textLayout_ = TLayout::Center_Middle;

    bool moved_ = false;
    bool inUnion_ = false;
    std::vector<TTolmFlow_Link*> inLinks_, outLinks_;
};

}  // namespace tolm
