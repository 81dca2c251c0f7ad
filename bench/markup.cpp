// Markup parse throughput: our tree parser against pugixml on the same
// generated 5 MB document (galaxy-like: nested elements, attributes with
// entities, texts, comments and CDATA sections).
#include <benchmark/benchmark.h>

#include <pugixml.hpp>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/markup.h"
#include "bench/ratios.h"

namespace {

const std::string& Document() {
    static const std::string doc = [] {
        std::string s = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<galaxy version=\"3\">\n";
        char line[512];
        unsigned seed = 12345;
        auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFF; };
        for (int sector = 0; s.size() < 5u * 1024 * 1024; ++sector) {
            snprintf(line, sizeof line,
                     "  <sector id=\"%d\" x=\"%u\" y=\"%u\" name=\"Sector %d &amp; beyond\" race=\"%u\">\n", sector,
                     next() % 20, next() % 20, sector, next() % 8);
            s += line;
            s += "    <!-- generated sector -->\n";
            s += "    <description><![CDATA[A quiet <place> & nothing more]]></description>\n";
            for (int ship = 0; ship < 20; ++ship) {
                snprintf(line, sizeof line,
                         "    <ship id=\"%d\" type=\"%u\" x=\"%u\" y=\"%u\" z=\"%u\" owner=\"%u\" "
                         "name=\"Ship &quot;%d&quot;\">\n      <ware type=\"%u\" amount=\"%u\"/>\n"
                         "      <order>patrol &lt;%u&gt;</order>\n    </ship>\n",
                         ship, next(), next(), next(), next(), next() % 8, ship, next() % 40, next(), next());
                s += line;
            }
            s += "  </sector>\n";
        }
        s += "</galaxy>\n";
        return s;
    }();
    return doc;
}

void BM_QelXmlParse(benchmark::State& state) {
    const std::string& doc = Document();
    for (auto _ : state) {
        XmlNode* root = Qel_XmlParse(doc.data(), doc.size());
        if (!root) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(root);
        Qel_XmlFreeNode(root);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}

void BM_PugixmlParse(benchmark::State& state) {
    const std::string& doc = Document();
    for (auto _ : state) {
        pugi::xml_document tree;
        // The same work as ours: comments, CDATA, entities and declarations kept.
        pugi::xml_parse_result r = tree.load_buffer(
            doc.data(), doc.size(),
            pugi::parse_default | pugi::parse_comments | pugi::parse_declaration | pugi::parse_ws_pcdata);
        if (!r) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(tree);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}

void BM_QelXmlWrite(benchmark::State& state) {
    const std::string& doc = Document();
    XmlNode* root = Qel_XmlParse(doc.data(), doc.size());
    const XmlNode* galaxy = root->element->children.head;
    while (galaxy && galaxy->kind != XML_ELEMENT) galaxy = galaxy->next;
    size_t bytes = 0;
    for (auto _ : state) {
        char* text = Qel_XmlWriteNode(galaxy);
        bytes = text ? strlen(text) : 0;
        benchmark::DoNotOptimize(text);
        Qel_XmlFreeString(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    Qel_XmlFreeNode(root);
}

}  // namespace

BENCHMARK(BM_QelXmlParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QelXmlWrite)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return bench_ratios::Main(argc, argv, {{"BM_QelXmlParse", "BM_PugixmlParse", "<= 1.0 (parse and free)"}});
}
