// The RTF half of the rich-text sanitizer: one pass over the RTF reader's
// own tokens, copying them but for the groups and words that go.
#include <algorithm>
#include <vector>

#include "RichTextSanitizer.h"
#include "RtfToHtml.h"

namespace kx {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Groups that fetch, embed or run something when a renderer reads them: they
// go whole when they begin with the word, and from the word to their end when
// it stands further in (where the engine's reader starts skipping).
constexpr std::string_view kRtfDroppedDestinations[] = {
    "fldinst",  "pict",    "shppict",   "nonshppict", "shp",
    "shpgrp",   "shpinst", "do",        "object",     "objdata",
    "objclass", "objname", "mmathpict", "datastore",  "datafield",
    "template", "htmltag", "mhtmltag",  "themedata",  "colorschememapping",
};

// Words that go alone: a field's own words (its result stays as a plain
// group) and the mark that asks a reader to rebuild HTML from the document.
constexpr std::string_view kRtfDroppedWords[] = {"field", "fldrslt", "fromhtml"};

bool IsIn(std::string_view word, const auto& list) {
  return std::any_of(std::begin(list), std::end(list),
                     [&](std::string_view w) { return EqualsIgnoreCase(word, w); });
}

class RtfSanitizer {
 public:
  explicit RtfSanitizer(std::string_view rtf) : lexer_(rtf) { out_.reserve(rtf.size()); }

  std::string Run() {
    RtfToken token;
    while (lexer_.Next(token)) {
      if (nSkip_ > 0)
        Skipped(token);
      else if (!Token(token))
        break;
    }
    if (nSkip_ > 0 && !lDropWhole_) out_.push_back('}');
    if (nSkip_ > 0) aGroups_.pop_back();
    out_.append(aGroups_.size(), '}');
    return std::move(out_);
  }

 private:
  struct Group {
    size_t nOut;     // where its "{" stands in the output
    bool lOpenWord;  // the output before it ended in a control word without its blank
    bool lNumber;    // ... which had a number
    bool lAtStart;   // nothing but "{" and "\*" read in it so far
  };

  // Inside a group that goes: only its nesting counts, and binary data is passed over.
  void Skipped(const RtfToken& token) {
    if (token.kind == RtfToken::Kind::kOpen) {
      ++nSkip_;
    } else if (token.kind == RtfToken::Kind::kClose) {
      if (--nSkip_ > 0) return;
      if (!lDropWhole_) Emit(token);
      aGroups_.pop_back();
    } else if (token.kind == RtfToken::Kind::kWord && EqualsIgnoreCase(token.word, "bin")) {
      lexer_.Skip(static_cast<size_t>(std::max(0, token.value)));
    }
  }

  // False when the rest of the text goes.
  bool Token(const RtfToken& token) {
    switch (token.kind) {
      case RtfToken::Kind::kOpen:
        NotAtStart();
        aGroups_.push_back({out_.size(), lOpenWord_, lNumber_, true});
        Emit(token);
        return true;
      case RtfToken::Kind::kClose:
        if (aGroups_.empty()) return true;  // a surplus "}" would end the document early
        Emit(token);
        aGroups_.pop_back();
        return true;
      case RtfToken::Kind::kWord:
        return Word(token);
      case RtfToken::Kind::kSymbol:
        Emit(token);
        if (token.text != "\\*") NotAtStart();
        return true;
      case RtfToken::Kind::kHex:
        // An escape without its two digits reads as nothing, and written
        // before other text it could take that text's characters as its digits.
        if (token.complete) Emit(token);
        NotAtStart();
        return true;
      case RtfToken::Kind::kText:
        Emit(token);
        NotAtStart();
        return true;
    }
    return true;
  }

  bool Word(const RtfToken& token) {
    if (EqualsIgnoreCase(token.word, "bin")) {
      // Binary data has no place outside the pictures and objects that go.
      lexer_.Skip(static_cast<size_t>(std::max(0, token.value)));
      NotAtStart();
      return true;
    }
    if (IsIn(token.word, kRtfDroppedWords)) return true;
    if (IsIn(token.word, kRtfDroppedDestinations)) {
      if (aGroups_.empty()) return false;  // outside every group: the rest of the text
      lDropWhole_ = aGroups_.back().lAtStart;
      if (lDropWhole_) {
        out_.resize(aGroups_.back().nOut);
        lOpenWord_ = aGroups_.back().lOpenWord;
        lNumber_ = aGroups_.back().lNumber;
      }
      nSkip_ = 1;
      return true;
    }
    Emit(token);
    NotAtStart();
    return true;
  }

  void NotAtStart() {
    if (!aGroups_.empty()) aGroups_.back().lAtStart = false;
  }

  // Appends a token; a blank goes first when a control word before it, left
  // without its blank, would otherwise read the token's first character as
  // its own (a dropped word or group between them leaves them side by side).
  void Emit(const RtfToken& token) {
    const char c = token.text[0];
    if (lOpenWord_ && (c == ' ' || IsDigit(c) || (!lNumber_ && (IsLetter(c) || c == '-'))))
      out_.push_back(' ');
    out_.append(token.text);
    lOpenWord_ = token.kind == RtfToken::Kind::kWord && !token.hasBlank;
    lNumber_ = token.hasNumber;
  }

  RtfLexer lexer_;
  std::string out_;
  std::vector<Group> aGroups_;
  size_t nSkip_ = 0;         // open groups of the part that goes
  bool lDropWhole_ = false;  // the group goes with its braces
  bool lOpenWord_ = false;
  bool lNumber_ = false;
};

}  // namespace

std::string KXRICHTEXTSANITIZERTF(std::string_view rtf) {
  return RtfSanitizer(rtf).Run();
}

}  // namespace kx
