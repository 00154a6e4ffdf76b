// The pagination engine: the flat list of rendered objects of one execution
// becomes the pages of a new renderable document.
//
// Everything an execution renders belongs to the page the execution is for,
// except texts that may break over pages: when such a text's lines do not fit
// its box, it is cut into fragments of whole lines and fragment k goes to
// page k, drawn in the same box. Paper of content height (a receipt roll) is
// one page as tall as its lowest object plus a bottom margin.
//
// The line model needs no font metrics: every character is as wide as an
// average character of the box's font size, paragraphs wrap greedily at
// blanks into lines of a fixed number of characters (UTF-8 characters, never
// split), and each line is as tall as the font size plus its spacing. A text
// is wrapped in one walk; its fragments share the text's unchanged values and
// hold only their own lines and runs.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "TDocumentoRenderizable.h"
#include "Value.h"

namespace kx {

class TMotorPaginacion : public KXObject {
 public:
  // New(options): runs `Init`.
  explicit TMotorPaginacion(const Value& options = Value());

  std::string_view ClassName() const override { return "TMotorPaginacion"; }

  // Stores the options (a map, else an empty map); both flags false.
  TMotorPaginacion& Init(const Value& options);
  // Marks the engine created.
  TMotorPaginacion& Create();
  // Empties the options and clears both flags.
  void End();
  // Stores the options as `Init` does.
  TMotorPaginacion& SetOpciones(const Value& options);
  // Only the logical true stops every text from being split (the label run).
  TMotorPaginacion& SetIgnorarSaltosPagina(const Value& flag);

  // A new created document with the objects laid out on the PageSpec paper.
  Ref<TDocumentoRenderizable> Paginar(const Value& pageSpec, const Value& objects);
  // The objects distributed over pages: a list of pages, each a list of maps.
  Value DividirObjetos(const Value& objects);

  // One page's part of a text cut over pages: its lines joined with LF, and
  // for each line whether it ends a paragraph.
  struct FragmentoTexto {
    std::string cTexto;
    Value aFinalesParrafo;  // a list of logicals
  };
  // The parts a rendered text is cut into, in page order, as `Paginar` cuts
  // it; none when the text stays whole (it fits its box or may not break).
  std::vector<FragmentoTexto> CortarTexto(const Value& map) const;

  Value hOpciones;  // stored, never read
  bool lCreated = false;
  bool lIgnorarSaltosPagina = false;

 protected:
  // Protected rather than private so that a test can reach the line model.

  // One visual line: a byte range of the normalised text it came from.
  struct LineaVisual {
    size_t nInicio = 0;
    size_t nLargo = 0;
    bool lFinParrafo = false;
  };
  // A text's visual lines together with the text their ranges index: the
  // "texto" with every CR LF and lone CR turned into LF.
  struct LineasTexto {
    Value cTexto;
    std::vector<LineaVisual> aLineas;
    std::string_view Texto(const LineaVisual& linea) const {
      return cTexto.Str().substr(linea.nInicio, linea.nLargo);
    }
  };
  // A chunk of lines that fits the box: lines nPrimera .. nPrimera + nCuantas - 1.
  struct Trozo {
    size_t nPrimera = 0;
    size_t nCuantas = 0;
  };
  // Where the re-cutting of one text's runs stands, shared by its fragments:
  // the 0-based run and byte within that run's "cText".
  struct CursorRuns {
    size_t nRun = 0;
    size_t nChar = 0;
  };

  // Page height for content paper: the lowest object's bottom plus the margin, at least 1.
  static double CalcularAltoContenido(const Value& objects, const Value& margin);
  // The fragments of one rendered object: itself alone unless it is a text that is split.
  Value DividirTexto(const Value& map) const;
  // The runs re-cut to hold exactly the fragment's text, continuing from the cursor.
  static Value FragmentRichTextRuns(const Value& runs, std::string_view fragment,
                                    CursorRuns& cursor);
  // The lines grouped into chunks that fit the box's usable height.
  static std::vector<Trozo> FragmentarLineas(const Value& map,
                                             const std::vector<LineaVisual>& lines);
  // The text's visual lines: its paragraphs, each wrapped unless wrapping is off.
  static LineasTexto LineasVisuales(const Value& map);
  // Characters that fit one line of the box; 2147483647 without usable width.
  static int64_t CaracteresPorLinea(const Value& map);
  // The paragraph word-wrapped into lines of at most n characters.
  static std::vector<std::string_view> PartirParrafo(std::string_view paragraph, int64_t n);
  // The text split at every LF: "" gives one empty text, a final LF a final empty one.
  static std::vector<std::string_view> SepararLineas(std::string_view text);
  // The texts joined with LF between them.
  static std::string UnirLineas(std::span<const std::string_view> lines);

 private:
  // A rendered text that may break over pages, and page breaks are not ignored.
  bool SeDivide(const Value& map) const;

  // The keys asked of every object of a page.
  mutable KeyHint oTipo_{"tipo"};
  mutable KeyHint oPermiteSalto_{"permiteSaltoPagina"};
};

}  // namespace kx
