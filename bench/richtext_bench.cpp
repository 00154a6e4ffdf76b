// Hostile inputs for the rich-text converters: each case runs in a child
// process of its own, so the peak memory printed is that case's alone. Per
// case: input and output size, milliseconds of the conversion, the process's
// peak resident memory and how much of it came after the input was built.
//
//   build/richtext_bench
//   build/richtext_bench job [RECORDS]   a clean job instead: a letter body from the
//                                        header data and one per detail record in a
//                                        table cell (default 20000 records); prints the
//                                        run's milliseconds and pages
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "HtmlToRtf.h"
#include "Platform.h"
#include "RtfToHtml.h"
#include "TDocumentoRenderizable.h"
#include "TKXEngine.h"
#include "TRichText.h"

namespace {

using namespace kx;

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string Repeat(std::string_view piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) out.append(piece);
  return out;
}

struct Case {
  const char* name;
  std::function<std::string()> input;
  std::function<std::string(const std::string&)> convert;
};

std::string RtfToHtml(const std::string& rtf) {
  return KXRICHTEXTRTFTOHTML(Value(rtf));
}

std::string HtmlToRtf(const std::string& html) {
  return KXRICHTEXTHTMLTORTF(html);
}

// A font name of the longest kept length, made of characters HTML must escape.
const std::string kEscapedFontTable =
    "{\\fonttbl{\\f0 " + Repeat("\"><&'", 26) + "<script>;}}\\f0\\fs24 ";

const std::vector<Case> kCases = {
    {"rtf_million_nested_braces",
     [] { return std::string(1000000, '{') + "x" + std::string(1000000, '}'); }, RtfToHtml},
    {"rtf_million_nested_alternating_states",
     [] { return Repeat("{\\b {\\b0 ", 500000) + "x" + std::string(1000000, '}'); }, RtfToHtml},
    {"rtf_huge_font_and_colour_numbers",
     [] {
       return "{\\fonttbl{\\f4294967295 Big;}}{\\colortbl;\\red4294967295\\green0\\blue0;}" +
              Repeat("\\f4294967295\\fs4294967295\\cf4294967295\\highlight99999999999 x", 20000);
     },
     RtfToHtml},
    {"rtf_many_font_numbers_one_name",
     [] {
       return "{\\fonttbl" + Repeat("\\f4294967", 100000) + " " + std::string(200, 'n') + ";}" +
              Repeat("{\\f" + std::to_string(4294967) + " a}", 50000);
     },
     RtfToHtml},
    {"rtf_bad_u_values",
     [] {
       return Repeat("\\u-10179?\\u70000?\\u0?\\u-8704?\\u-3913?\\u99999999999?\\'4x\\'", 40000);
     },
     RtfToHtml},
    {"rtf_escaped_font_name_1MB_of_lines",
     [] { return kEscapedFontTable + Repeat(std::string(90, 'a') + "\\par ", 10000); }, RtfToHtml},
    {"rtf_escaped_font_name_tiny_runs_100KB",
     [] { return kEscapedFontTable + Repeat("x{}", 33000); }, RtfToHtml},
    {"rtf_raw_bytes_1MB", [] { return Repeat("caf\xC3\xA9 \xE9\x80\xFF ", 100000); }, RtfToHtml},
    {"html_million_nested_tags",
     [] { return Repeat("<b>", 1000000) + "x" + Repeat("</b>", 1000000); }, HtmlToRtf},
    {"html_nested_lists",
     [] { return Repeat("<ol><li>", 200000) + "x" + Repeat("</li></ol>", 200000); }, HtmlToRtf},
    {"html_100k_fonts_and_colours",
     [] {
       std::string html;
       for (int i = 0; i < 100000; ++i) {
         char color[8];
         std::snprintf(color, sizeof color, "#%06x", i * 97);
         html +=
             "<span style=\"font-family:F" + std::to_string(i) + ";color:" + color + "\">x</span>";
       }
       return html;
     },
     HtmlToRtf},
    {"richtext_placeholders_into_rtf", [] { return "{\\rtf1 " + Repeat("{{v}} ", 100000) + "}"; },
     [](const std::string& content) {
       const RichTextEvaluator evaluate = [](std::string_view) {
         return Value("C:\\new} \xE2\x82\xAC");
       };
       return KXRICHTEXTINTERPOLATE(Value(content), "rtf", evaluate);
     }},
    // Groups opening together ahead of one far "}}": each "{{" is judged once.
    {"richtext_rtf_groups_before_one_close",
     [] { return "{\\rtf1 " + Repeat("{{\\b x}", 200000) + "}}}"; },
     [](const std::string& content) {
       const RichTextEvaluator evaluate = [](std::string_view) { return Value("v"); };
       return KXRICHTEXTINTERPOLATE(Value(content), "rtf", evaluate);
     }},
    // Job data full of calls that stay as written.
    {"richtext_data_calls_left_as_written",
     [] { return Repeat("{{LoadFile('x')}} {{a{{b", 100000) + "}}"; },
     [](const std::string& content) {
       const RichTextEvaluator evaluate = [](std::string_view) { return Value("v"); };
       return KXRICHTEXTINTERPOLATE(Value(content), "html", evaluate, RichTextSource::kData);
     }},
    {"richtext_plain_text_of_nested_rtf",
     [] { return "{\\rtf1 " + std::string(1000000, '{') + "x" + std::string(1000000, '}') + "}"; },
     [](const std::string& content) { return KXRICHTEXTPLAINTEXT(Value(content)); }},
};

void RunCase(const Case& c) {
  const std::string input = c.input();
  const long baseKb = PeakKb();
  const double start = platform::MillisecondClock();
  const std::string output = c.convert(input);
  const double ms = platform::MillisecondClock() - start;
  const long peakKb = PeakKb();
  std::printf("case=%s input_kb=%zu output_kb=%zu ms=%.1f peak_mb=%.1f conversion_mb=%.1f\n",
              c.name, input.size() / 1024, output.size() / 1024, ms, peakKb / 1024.0,
              (peakKb - baseKb) / 1024.0);
  std::fflush(stdout);
}

// A letter body as an editor writes it: paragraphs, styles, a list and a link.
std::string LetterBody(size_t n) {
  const std::string id = std::to_string(n);
  return "<p>Estimado <strong>cliente " + id +
         "</strong>,</p><p style=\"text-align:justify\">Le informamos de que su pedido "
         "<em>n.&ordm; " +
         id +
         "</em> ha salido hoy. <span style=\"color:#336699;font-size:11pt;font-family:Georgia, "
         "serif\">Plazo de entrega: 48 h</span> &amp; sin gastos.</p><ul><li>Unidades: 3</li>"
         "<li>Importe: <u>120,50 &euro;</u></li></ul><p>Siga su env&iacute;o en "
         "<a href=\"https://example.com/envios?id=" +
         id + "&amp;k=1\">example.com</a>.<br>Atentamente,</p>";
}

// A clean job whose rich texts all come from data: what every letter run pays.
int RunJob(size_t records) {
  const std::string templateText = R"({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
    "aObjects":[
      {"cType":"richText","cId":"carta","nLeft":10,"nTop":10,"nWidth":190,"nHeight":40,
       "cContent":"CLI.carta"},
      {"cType":"TTable","cId":"T","nLeft":10,"nTop":60,"nWidth":190,"nHeight":220,
       "hSections":{"detail":{"aLines":[{"nHeight":30,"aCells":[{"nWidth":190,
         "hContent":{"cType":"richText","hObject":{"cContent":"DET.cuerpo"}}}]}]}}}]})";
  TKXEngine engine;
  engine.SetPlantillaContent(Value(templateText));
  engine.SetInputEncoding(Value("UTF-8"));
  engine.OpenJob();
  engine.SendDataVar(Value("CLI"), Value::NewMap({{"carta", LetterBody(0)}}));
  for (size_t i = 0; i < records; ++i)
    engine.SendDetalle(Value("DET"), Value::NewMap({{"cuerpo", LetterBody(i + 1)}}));
  engine.CloseJob();
  const double start = platform::MillisecondClock();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  const double ms = platform::MillisecondClock() - start;
  if (!doc) {
    std::printf("job failed: %s\n", engine.cLastError.c_str());
    return 1;
  }
  std::printf("job records=%zu pages=%lld ms=%.1f peak_mb=%.1f\n", records,
              static_cast<long long>(doc->TotalPaginas()), ms, PeakKb() / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "job")
    return RunJob(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 20000);
  for (const Case& c : kCases) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      RunCase(c);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("case=%s failed\n", c.name);
  }
  return 0;
}
