#include "base/markup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/memory.h"
#include "support/logcapture.h"

namespace {

// A compact picture of a tree: elements as name{attr=value,...}(children),
// texts as "text", comments as <!text>, processing instructions as <?text>.
std::string Dump(const XmlNode* n) {
    std::string out;
    switch (n->kind) {
        case XML_TEXT: return "\"" + std::string(n->text) + "\"";
        case XML_COMMENT: return "<!" + std::string(n->text) + ">";
        case XML_PI: return "<?" + std::string(n->text) + ">";
        default: break;
    }
    out = n->text;
    if (n->element->attributes.head) {
        out += "{";
        for (const XmlListItem* a = n->element->attributes.head; a; a = a->next) {
            out += std::string(a->name) + "=" + a->value;
            if (a->next) out += ",";
        }
        out += "}";
    }
    if (n->element->children.head) {
        out += "(";
        for (const XmlNode* c = n->element->children.head; c; c = c->next) {
            out += Dump(c);
            if (c->next) out += " ";
        }
        out += ")";
    }
    return out;
}

struct ParseCase {
    const char* name;
    const char* text;
    const char* tree;  // Dump of ROOT
};

class MarkupParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(MarkupParse, BuildsTheTree) {
    const ParseCase& c = GetParam();
    XmlNode* root = Qel_XmlParseString(c.text);
    ASSERT_NE(root, nullptr) << c.text;
    EXPECT_EQ(Dump(root), c.tree) << c.text;
    Qel_XmlFreeNode(root);
}

const ParseCase kParseCases[] = {
    {"Attributes", "<a x='1' y=\"2\"/>", "ROOT(a{x=1,y=2})"},
    {"EntityInText", "<a>1 &lt; 2</a>", "ROOT(a(\"1 < 2\"))"},
    {"AllEntities", "<a v='&lt;&gt;&quot;&apos;&amp;'>&amp;lt;</a>", "ROOT(a{v=<>\"'&}(\"&lt;\"))"},
    {"UnknownEntityStays", "<a>&foo; &amp &#10;</a>", "ROOT(a(\"&foo; &amp &#10;\"))"},
    {"WhiteSpaceBetweenElements", "<a><b/>\n  <c/></a>", "ROOT(a(b \"\n  \" c))"},
    {"Comment", "<a><!-- note <b/> --></a>", "ROOT(a(<! note <b/> >))"},
    {"CdataIsRaw", "<a><![CDATA[<b>&amp;]]></a>", "ROOT(a(\"<b>&amp;\"))"},
    {"ProcessingInstruction", "<a><?go now?></a>", "ROOT(a(<?go now>))"},
    {"Declaration", "<?xml version=\"1.0\"?><a/>", "ROOT(a)"},
    {"DeclarationAndDoctype", "<?xml version='1.0'?>\n<!DOCTYPE a SYSTEM \"a.dtd\"><a/>", "ROOT(a)"},
    {"DoctypeWithSubset", "<?xml?><!DOCTYPE a [<!ELEMENT a ANY> ]><a/>", "ROOT(a)"},
    {"DoctypeAlone", "<!DOCTYPE a><a/>", "ROOT(a)"},
    {"TopLevelText", "hello <a/> bye", "ROOT(\"hello \" a \" bye\")"},
    {"Empty", "", "ROOT"},
    {"EmptyElementWithBlank", "<a />", "ROOT(a)"},
    {"Nested", "<a><b><c>x</c></b></a>", "ROOT(a(b(c(\"x\"))))"},
    {"TabAndLineFeedSeparateAttributes", "<a\tx='1'\ny='2'\r\nz='3'/>", "ROOT(a{x=1,y=2,z=3})"},
    {"NameFollowedByLineFeed", "<a\nx='1'>t</a\n>", "ROOT(a{x=1}(\"t\"))"},
    {"GreaterThanInQuotedValue", "<a x='1>2' y=\"<\">t</a>", "ROOT(a{x=1>2,y=<}(\"t\"))"},
    {"BlanksAroundEquals", "<a x = '1'/>", "ROOT(a{x=1})"},
    {"ValueKeepsLineFeedsAndTabs", "<a x='1\n\t2'/>", "ROOT(a{x=1\n\t2})"},
    {"OtherQuoteInsideValue", "<a x=\"it's\" y='say \"hi\"'/>", "ROOT(a{x=it's,y=say \"hi\"})"},
    {"EmptyValue", "<a x=''/>", "ROOT(a{x=})"},
    {"HighBytes", "<\xE4 \xF6='\xFC'>\xDF</\xE4>", "ROOT(\xE4{\xF6=\xFC}(\"\xDF\"))"},
    {"BareAttributesMakeNone", "<a checked><b x='1' hidden y=\"2\"/><c selected/></a>", "ROOT(a(b{x=1,y=2} c))"},
    {"DeclarationInBody", "<a><!ELEMENT b (c)>t<!ENTITY e [x]>u</a>", "ROOT(a(\"t\" \"u\"))"},
    {"DoctypeAfterComment", "<!-- c --><!DOCTYPE a [<!ENTITY e 'v'>]><a/>", "ROOT(<! c > a)"},
    {"DoctypeAfterPi", "<?xml version='1.0'?><?xml-stylesheet href='s'?><!DOCTYPE a SYSTEM 'a.dtd'><a/>",
     "ROOT(<?xml-stylesheet href='s'> a)"},
};

INSTANTIATE_TEST_SUITE_P(Table, MarkupParse, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
    const char* name;
    const char* text;
    const char* message;  // part of the logged line
};

class MarkupMalformed : public ::testing::TestWithParam<BadCase> {};

TEST_P(MarkupMalformed, FailsWithAClearError) {
    const BadCase& c = GetParam();
    LogCapture capture;
    XmlNode* root = Qel_XmlParseString(c.text);
    std::string log = capture.Take();
    EXPECT_EQ(root, nullptr) << c.text;
    EXPECT_NE(log.find(std::string("Qel_XmlParse: ") + c.message), std::string::npos) << c.text << " logged: " << log;
    Qel_XmlFreeNode(root);
}

const BadCase kBadCases[] = {
    {"TruncatedStartTag", "<a><b x='1'", "start tag <b> not closed"},
    {"TruncatedName", "<a><", "truncated start tag"},
    {"TruncatedValue", "<a x='1>2/>", "value of attribute x in <a> not closed"},
    {"MismatchedEndTag", "<a>\n<b></c></a>", "end tag </c> does not match <b> at line 2"},
    {"StrayEndTag", "<a/></a>", "end tag </a> without a start tag"},
    {"TruncatedEndTag", "<a></a", "end tag not closed"},
    {"TruncatedComment", "<a><!-- x -></a>", "comment not closed"},
    {"TruncatedCdata", "<a><![CDATA[x]]</a>", "CDATA section not closed"},
    {"TruncatedPi", "<a><?x ?</a>", "processing instruction not closed"},
    {"TruncatedDeclaration", "<?xml version='1.0'", "declaration not closed"},
    {"TruncatedDoctype", "<!DOCTYPE a [ <!ELEMENT a ANY>", "DOCTYPE not closed"},
    {"TruncatedDeclarationInBody", "<a><!ELEMENT b", "declaration not closed"},
    {"MissingName", "<a>< b/></a>", "missing element name"},
    {"UnquotedValue", "<a x=1/>", "value of attribute x in <a> is not quoted"},
    {"AttributeWithoutName", "<a ='1'/>", "attribute without name in <a>"},
    {"SlashInsideTag", "<a / x='1'>", "'/' not followed by '>' in <a>"},
};

INSTANTIATE_TEST_SUITE_P(Table, MarkupMalformed, ::testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Markup, ElementsLeftOpenKeepTheirContentWithALine) {
    LogCapture log;
    XmlNode* root = Qel_XmlParseString("<a x='1'><b>t</b><c>u");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Dump(root), "ROOT(a{x=1}(b(\"t\") c(\"u\")))");
    EXPECT_TRUE(log.Contains("Qel_XmlParse: element <c> not closed before the end of the text at line 1"))
        << log.Text();
    EXPECT_TRUE(log.Contains("Qel_XmlParse: element <a> not closed")) << log.Text();
    Qel_XmlFreeNode(root);
}

TEST(Markup, EveryTruncationOfADocumentFailsCleanly) {
    const std::string doc =
        "<?xml version='1.0'?><!DOCTYPE g [<!ENTITY x 'y'>]>"
        "<galaxy v='1'><!-- c --><sector x=\"0\" name='a&amp;b'><![CDATA[raw<>]]>t&lt;</sector>"
        "<?pi data?><ship/></galaxy>";
    const int64_t before = Int_GetTagMem(XML_MEM_TAG);
    for (size_t n = 0; n < doc.size(); ++n) {
        LogCapture capture;
        XmlNode* root = Qel_XmlParse(doc.data(), n);
        std::string log = capture.Take();
        // A cut inside markup is refused; a cut between markup leaves the open elements open.
        if (root) {
            Qel_XmlFreeNode(root);
        } else {
            EXPECT_NE(log.find("Qel_XmlParse: "), std::string::npos) << n;
        }
        EXPECT_EQ(Int_GetTagMem(XML_MEM_TAG), before) << n;
    }
    XmlNode* whole = Qel_XmlParse(doc.data(), doc.size());
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(Dump(whole), "ROOT(galaxy{v=1}(<! c > sector{x=0,name=a&b}(\"raw<>\" \"t<\") <?pi data> ship))");
    Qel_XmlFreeNode(whole);
}

TEST(Markup, CountedTextStopsAtItsLength) {
    const char text[] = "<a>xy</a><b/>";
    XmlNode* root = Qel_XmlParse(text, 9);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Dump(root), "ROOT(a(\"xy\"))");
    Qel_XmlFreeNode(root);
}

std::string Nested(int depth) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += "<e>";
    for (int i = 0; i < depth; ++i) s += "</e>";
    return s;
}

TEST(Markup, NestingIsLimited) {
    XmlNode* root = Qel_XmlParseString(Nested(XML_MAX_DEPTH).c_str());
    ASSERT_NE(root, nullptr);
    char* text = Qel_XmlWriteNode(root->element->children.head);
    ASSERT_NE(text, nullptr);
    Qel_XmlFreeString(text);

    // One level more: refused with a line, and a hostile depth does not reach the stack.
    for (int depth : {XML_MAX_DEPTH + 1, 100000}) {
        LogCapture capture;
        EXPECT_EQ(Qel_XmlParseString(Nested(depth).c_str()), nullptr);
        EXPECT_NE(capture.Take().find("elements nested deeper than 512 levels"), std::string::npos);
    }

    // A tree built by code beyond the limit is refused by the writer, and freed.
    XmlNode* top = Qel_XmlNewNode(XML_ELEMENT);
    Qel_XmlSetString(&top->text, "e");
    XmlNode* at = top;
    for (int i = 0; i < 100000; ++i) {
        XmlNode* child = Qel_XmlNewNode(XML_ELEMENT);
        Qel_XmlSetString(&child->text, "e");
        Qel_XmlAppendChild(at, child);
        at = child;
    }
    LogCapture capture;
    EXPECT_EQ(Qel_XmlWriteNode(top), nullptr);
    EXPECT_NE(capture.Take().find("Qel_XmlWriteNode: elements nested deeper than 512"), std::string::npos);
    Qel_XmlFreeNode(top);
    Qel_XmlFreeNode(root);
}

XmlNode* Element(const char* name) {
    XmlNode* e = Qel_XmlNewNode(XML_ELEMENT);
    Qel_XmlSetString(&e->text, name);
    return e;
}

void AddAttribute(XmlNode* e, const char* name, const char* value) {
    XmlListItem* a = Qel_XmlNewListItem();
    Qel_XmlSetString(&a->name, name);
    Qel_XmlSetString(&a->value, value);
    Qel_XmlAppendAttribute(e, a);
}

TEST(Markup, WriterShape) {
    XmlNode* a = Element("sval");
    AddAttribute(a, "type", "array");
    AddAttribute(a, "size", "2");
    XmlNode* b = Element("sval");
    AddAttribute(b, "type", "int");
    Qel_XmlAppendChild(a, b);
    XmlNode* t = Qel_XmlNewNode(XML_TEXT);
    Qel_XmlSetString(&t->text, "x");
    Qel_XmlAppendChild(a, t);
    char* text = Qel_XmlWriteNode(a);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "<sval type=\"array\" size=\"2\"><sval type=\"int\" />x</sval>");
    Qel_XmlFreeString(text);
    // Only elements are written.
    EXPECT_EQ(Qel_XmlWriteNode(t), nullptr);
    EXPECT_EQ(Qel_XmlWriteNode(nullptr), nullptr);
    Qel_XmlFreeNode(a);
}

TEST(Markup, EveryValueSurvivesWriteAndParse) {
    const char* values[] = {"a\"b", "<tag>", "&amp; & &lt;", "it's", "", "line\nfeed\ttab", "]]>", "\xE9\xFF"};
    for (const char* v : values) {
        XmlNode* e = Element("v");
        AddAttribute(e, "val", v);
        XmlNode* t = Qel_XmlNewNode(XML_TEXT);
        Qel_XmlSetString(&t->text, v);
        Qel_XmlAppendChild(e, t);
        char* text = Qel_XmlWriteNode(e);
        ASSERT_NE(text, nullptr);
        XmlNode* root = Qel_XmlParseString(text);
        ASSERT_NE(root, nullptr) << text;
        const XmlNode* back = root->element->children.head;
        ASSERT_NE(back, nullptr);
        EXPECT_STREQ(back->element->attributes.head->value, v) << text;
        if (*v) {
            ASSERT_NE(back->element->children.head, nullptr);
            EXPECT_STREQ(back->element->children.head->text, v) << text;
        }
        Qel_XmlFreeString(text);
        Qel_XmlFreeNode(root);
        Qel_XmlFreeNode(e);
    }
    // The quote the writer would otherwise leave raw comes out as an entity.
    XmlNode* e = Element("a");
    AddAttribute(e, "x", "a\"b");
    char* text = Qel_XmlWriteNode(e);
    EXPECT_STREQ(text, "<a x=\"a&quot;b\" />");
    Qel_XmlFreeString(text);
    Qel_XmlFreeNode(e);
}

TEST(Markup, ParsedDocumentWritesBack) {
    const char* doc = "<a x=\"1\"><!--c--><b y=\"&lt;\">t &amp; u</b><?p q?><c /></a>";
    XmlNode* root = Qel_XmlParseString(doc);
    ASSERT_NE(root, nullptr);
    char* text = Qel_XmlWriteNode(root->element->children.head);
    EXPECT_STREQ(text, doc);
    Qel_XmlFreeString(text);
    Qel_XmlFreeNode(root);
}

TEST(Markup, TreeIsBookedToItsMemoryTag) {
    int64_t before = Int_GetTagMem(XML_MEM_TAG);
    XmlNode* root = Qel_XmlParseString("<a x='1'><b>text</b></a>");
    ASSERT_NE(root, nullptr);
    EXPECT_GT(Int_GetTagMem(XML_MEM_TAG), before);
    char* text = Qel_XmlWriteNode(root);
    Qel_XmlFreeString(text);
    Qel_XmlFreeNode(root);
    EXPECT_EQ(Int_GetTagMem(XML_MEM_TAG), before);
}

// A parsed document holds its records in blocks of its own; what calls link
// into it from the heap, and what they replace, still balances the books.
TEST(Markup, ParsedTreeEditedThroughTheCallsBalancesItsBooks) {
    const int64_t before = Int_GetTagMem(XML_MEM_TAG);
    XmlNode* root = Qel_XmlParseString("<a x='1'><b>t</b><c/></a>");
    ASSERT_NE(root, nullptr);
    XmlNode* a = root->element->children.head;
    Qel_XmlSetString(&a->text, "renamed");
    Qel_XmlSetString(&a->element->attributes.head->value, "2");
    AddAttribute(a, "y", "3");
    XmlNode* added = Element("d");
    AddAttribute(added, "z", "4");
    Qel_XmlAppendChild(a, added);
    // A parsed child taken out and freed alone, before its document.
    XmlNode* c = a->element->children.head->next;
    c->prev->next = c->next;
    c->next->prev = c->prev;
    Qel_XmlFreeNode(c);
    char* text = Qel_XmlWriteNode(a);
    EXPECT_STREQ(text, "<renamed x=\"2\" y=\"3\"><b>t</b><d z=\"4\" /></renamed>");
    Qel_XmlFreeString(text);
    // A parsed string freed alone goes with its document.
    Qel_XmlFreeString(a->element->children.head->text);
    Qel_XmlFreeNode(root);
    EXPECT_EQ(Int_GetTagMem(XML_MEM_TAG), before);
}

TEST(Markup, NulInsideTheTextEndsTheString) {
    // Strings are freed by their length, so each must be booked at that length.
    const int64_t before = Int_GetTagMem(XML_MEM_TAG);
    const char text[] = "<a\0b x\0y='1\0 2'>t\0u<![CDATA[c\0d]]></a\0b>";
    XmlNode* root = Qel_XmlParse(text, sizeof text - 1);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Dump(root), "ROOT(a{x=1}(\"t\" \"c\"))");
    Qel_XmlFreeNode(root);
    EXPECT_EQ(Int_GetTagMem(XML_MEM_TAG), before);
}

TEST(Markup, SetStringReplacesAndFreeingNullIsReported) {
    char* slot = nullptr;
    EXPECT_EQ(Qel_XmlSetString(&slot, "one"), 1);
    EXPECT_EQ(Qel_XmlSetString(&slot, "two"), 1);
    EXPECT_STREQ(slot, "two");
    Qel_XmlFreeString(slot);
    LogCapture capture;
    Qel_XmlFreeString(nullptr);
    EXPECT_NE(capture.Take().find("S_FreeMem: Trying to free NULL pointer, len"), std::string::npos);
}

TEST(Markup, NewNodes) {
    XmlNode* e = Qel_XmlNewNode(XML_ELEMENT);
    ASSERT_NE(e, nullptr);
    EXPECT_NE(e->element, nullptr);
    EXPECT_EQ(e->element->children.head, nullptr);
    XmlNode* t = Qel_XmlNewNode(XML_COMMENT);
    EXPECT_EQ(t->element, nullptr);
    EXPECT_EQ(t->text, nullptr);
    XmlListItem* item = Qel_XmlNewListItem();
    EXPECT_EQ(item->name, nullptr);
    Qel_XmlAppendAttribute(e, item);
    Qel_XmlAppendChild(e, t);
    Qel_XmlFreeNode(e);
}

}  // namespace
