#include "pptx_reader.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include "xml_parser.h"
#include "zip_reader.h"

namespace presenter {
namespace {

// A deck with more slides than this is refused rather than modelled.
constexpr size_t kMaxSlides = 10000;
// Shapes per slide after groups are flattened, master and layout decoration included.
constexpr size_t kMaxShapesPerSlide = 20000;
// Coordinates beyond this (EMU) are clamped: far off the slide, and the painter stays in range.
constexpr double kMaxCoordinate = 1e9;

const char kRelNs[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string DirOf(const std::string& part) {
  const size_t s = part.rfind('/');
  return s == std::string::npos ? std::string() : part.substr(0, s + 1);
}

// Resolves a relationship target against the part that holds it ("../slideLayouts/x.xml").
std::string ResolveTarget(const std::string& source, const std::string& target) {
  const std::string full = !target.empty() && target[0] == '/' ? target.substr(1) : DirOf(source) + target;
  std::vector<std::string> segments;
  std::string cur;
  for (size_t i = 0; i <= full.size(); i++) {
    if (i == full.size() || full[i] == '/') {
      if (cur == "..") {
        if (!segments.empty()) segments.pop_back();
      } else if (!cur.empty() && cur != ".") {
        segments.push_back(cur);
      }
      cur.clear();
    } else {
      cur += full[i];
    }
  }
  std::string out;
  for (const std::string& s : segments) out += (out.empty() ? "" : "/") + s;
  return out;
}

std::wstring Widen(const std::string& u) {
  if (u.empty() || u.size() > INT_MAX) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, u.data(), int(u.size()), nullptr, 0);
  std::wstring w(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, u.data(), int(u.size()), &w[0], n);
  return w;
}

double Number(const std::string& s) {
  const double v = strtod(s.c_str(), nullptr);
  if (!std::isfinite(v)) return 0;
  return v < -kMaxCoordinate ? -kMaxCoordinate : v > kMaxCoordinate ? kMaxCoordinate : v;
}

bool ParseHexColor(const std::string& v, COLORREF& out) {
  if (v.size() != 6) return false;
  for (char c : v)
    if (!isxdigit(static_cast<unsigned char>(c))) return false;
  const unsigned long x = strtoul(v.c_str(), nullptr, 16);
  out = RGB((x >> 16) & 255, (x >> 8) & 255, x & 255);
  return true;
}

struct Part {
  std::string path;
  XmlNode xml;
  std::map<std::string, std::string> rels;  // relationship id -> resolved part path
  std::vector<std::pair<std::string, std::string>> relTypes;  // (type, resolved path), in order
};

class Package {
 public:
  ZipReader zip;
  std::map<std::string, COLORREF> scheme;  // theme colour name -> colour
  std::map<std::string, std::string> colorMap;  // of the current slide's master: "bg1" -> "lt1" ...

  bool LoadPart(const std::string& path, Part& part, std::string& error) {
    std::string bytes;
    part.path = path;
    if (!zip.Read(path, bytes, error) || !ParseXml(bytes, part.xml, error)) {
      error = path + ": " + error;
      return false;
    }
    const std::string relsPath = DirOf(path) + "_rels/" + path.substr(DirOf(path).size()) + ".rels";
    if (!zip.Has(relsPath)) return true;
    XmlNode rels;
    if (!zip.Read(relsPath, bytes, error) || !ParseXml(bytes, rels, error)) {
      error = relsPath + ": " + error;
      return false;
    }
    for (const XmlNode& r : rels.children) {
      if (r.name != "Relationship" || r.Attr("TargetMode") == "External") continue;
      const std::string target = ResolveTarget(path, r.Attr("Target"));
      part.rels[r.Attr("Id")] = target;
      part.relTypes.emplace_back(r.Attr("Type"), target);
    }
    return true;
  }

  // Shared bytes of a picture part: a picture used on many slides is held once.
  std::shared_ptr<const std::string> Media(const std::string& path) {
    auto it = media_.find(path);
    if (it != media_.end()) return it->second;
    std::string bytes, error;
    std::shared_ptr<const std::string> m;
    if (zip.Read(path, bytes, error)) m = std::make_shared<const std::string>(std::move(bytes));
    media_[path] = m;
    return m;
  }

  // A colour element (srgbClr, schemeClr, sysClr, prstClr) to a COLORREF.
  bool ColorOf(const XmlNode& c, COLORREF& out) const {
    std::string v = c.Attr("val");
    if (c.name == "srgbClr") return ParseHexColor(v, out);
    if (c.name == "sysClr") return ParseHexColor(c.Attr("lastClr", "", "000000"), out);
    if (c.name == "schemeClr") {
      // Background and text names go through the master's colour map to theme colour names.
      static const std::map<std::string, std::string> fallback = {
          {"tx1", "dk1"}, {"bg1", "lt1"}, {"tx2", "dk2"}, {"bg2", "lt2"}};
      auto mapped = colorMap.find(v);
      auto a = fallback.find(v);
      if (mapped != colorMap.end()) v = mapped->second;
      else if (a != fallback.end()) v = a->second;
      auto it = scheme.find(v);
      if (it == scheme.end()) return false;
      out = it->second;
      return true;
    }
    if (c.name == "prstClr") {
      static const std::map<std::string, COLORREF> preset = {
          {"black", RGB(0, 0, 0)},    {"white", RGB(255, 255, 255)}, {"red", RGB(255, 0, 0)},
          {"green", RGB(0, 128, 0)},  {"blue", RGB(0, 0, 255)},      {"yellow", RGB(255, 255, 0)},
          {"gray", RGB(128, 128, 128)}};
      auto it = preset.find(v);
      if (it == preset.end()) return false;
      out = it->second;
      return true;
    }
    return false;
  }

  // The solid fill colour in `holder` (which holds an a:solidFill or is one).
  bool SolidFill(const XmlNode* holder, COLORREF& out) const {
    if (!holder) return false;
    const XmlNode* f = holder->name == "solidFill" ? holder : holder->Child("solidFill");
    return f && !f->children.empty() && ColorOf(f->children[0], out);
  }

 private:
  std::map<std::string, std::shared_ptr<const std::string>> media_;
};

std::string RelOfType(const Part& p, const char* suffix) {
  const size_t n = strlen(suffix);
  for (const auto& r : p.relTypes)
    if (r.first.size() >= n && r.first.compare(r.first.size() - n, n, suffix) == 0) return r.second;
  return std::string();
}

// The placeholder key of a shape: its type (title and body families merged) and index.
bool PlaceholderOf(const XmlNode& sp, std::string& type, std::string& idx) {
  const XmlNode* ph = nullptr;
  for (const XmlNode& k : sp.children)
    if (k.name.size() > 2 && k.name.compare(0, 2, "nv") == 0 && (ph = k.At({"nvPr", "ph"}))) break;
  if (!ph) return false;
  type = ph->Attr("type", "", "body");
  idx = ph->Attr("idx");
  if (type == "ctrTitle") type = "title";
  if (type == "subTitle" || type == "obj") type = "body";
  return true;
}

const XmlNode* FindPlaceholder(const Part& p, const std::string& type, const std::string& idx) {
  const XmlNode* tree = p.xml.At({"cSld", "spTree"});
  if (!tree) return nullptr;
  const XmlNode* byType = nullptr;
  for (const XmlNode& k : tree->children) {
    std::string t, i;
    if (!PlaceholderOf(k, t, i)) continue;
    if (!idx.empty() && i == idx) return &k;
    if (!byType && t == type) byType = &k;
  }
  return byType;
}

const XmlNode* TransformOf(const XmlNode& sp) {
  if (const XmlNode* x = sp.At({"spPr", "xfrm"})) return x;
  if (const XmlNode* x = sp.At({"grpSpPr", "xfrm"})) return x;
  return sp.Child("xfrm");  // graphic frames keep theirs outside spPr
}

// Child-to-slide mapping of nested groups: slide = d + s * child.
struct GroupTransform {
  double sx = 1, sy = 1, dx = 0, dy = 0;
};

// Paragraph defaults of a placeholder, from the master's title or body style (first level).
struct TextDefaults {
  int size = 0;  // hundredths of a point; 0: the painter's default
  TextParagraph::Align align = TextParagraph::Left;
  bool hasColor = false;
  COLORREF color = 0;
};

class SlideBuilder {
 public:
  SlideBuilder(Package& pkg, const Part* layout, const Part* master, SlideModel& out)
      : pkg_(pkg), layout_(layout), master_(master), out_(out) {}

  // Shapes of `tree` (an spTree or grpSp); `owner` is the part whose relationships they use.
  // Placeholders are skipped for layouts and masters: they only lend position and style.
  void Shapes(const XmlNode& tree, const Part& owner, bool placeholders, const GroupTransform& t) {
    for (const XmlNode& k : tree.children) {
      if (out_.shapes.size() >= kMaxShapesPerSlide) return;
      if (k.name == "sp" || k.name == "cxnSp" || k.name == "pic") {
        std::string type, idx;
        if (placeholders || !PlaceholderOf(k, type, idx)) Shape(k, owner, t);
      } else if (k.name == "graphicFrame") {
        Table(k, t);
      } else if (k.name == "grpSp") {
        Shapes(k, owner, placeholders, Nested(k, t));
      }
    }
  }

  bool Background(const Part& p, COLORREF& c) const {
    const XmlNode* bg = p.xml.At({"cSld", "bg"});
    if (!bg) return false;
    if (const XmlNode* bgPr = bg->Child("bgPr")) return pkg_.SolidFill(bgPr, c);
    // A style reference names its colour directly.
    if (const XmlNode* ref = bg->Child("bgRef")) return !ref->children.empty() && pkg_.ColorOf(ref->children[0], c);
    return false;
  }

 private:
  Package& pkg_;
  const Part* layout_;
  const Part* master_;
  SlideModel& out_;

  static GroupTransform Nested(const XmlNode& grp, const GroupTransform& t) {
    const XmlNode* x = TransformOf(grp);
    if (!x) return t;
    const XmlNode *off = x->Child("off"), *ext = x->Child("ext"), *chOff = x->Child("chOff"), *chExt = x->Child("chExt");
    if (!off || !ext || !chOff || !chExt) return t;
    const double ccx = Number(chExt->Attr("cx")), ccy = Number(chExt->Attr("cy"));
    const double sx = ccx > 0 ? Number(ext->Attr("cx")) / ccx : 1, sy = ccy > 0 ? Number(ext->Attr("cy")) / ccy : 1;
    const double ox = Number(off->Attr("x")) - Number(chOff->Attr("x")) * sx;
    const double oy = Number(off->Attr("y")) - Number(chOff->Attr("y")) * sy;
    GroupTransform g;
    g.sx = t.sx * sx;
    g.sy = t.sy * sy;
    g.dx = t.dx + t.sx * ox;
    g.dy = t.dy + t.sy * oy;
    return g;
  }

  static bool Place(const XmlNode* x, const GroupTransform& t, ShapeModel& m) {
    const XmlNode* off = x ? x->Child("off") : nullptr;
    const XmlNode* ext = x ? x->Child("ext") : nullptr;
    if (!off || !ext) return false;
    m.x = t.dx + t.sx * Number(off->Attr("x"));
    m.y = t.dy + t.sy * Number(off->Attr("y"));
    m.cx = t.sx * Number(ext->Attr("cx"));
    m.cy = t.sy * Number(ext->Attr("cy"));
    m.flipH = x->Attr("flipH") == "1";
    m.flipV = x->Attr("flipV") == "1";
    return std::isfinite(m.x + m.y + m.cx + m.cy);
  }

  TextDefaults DefaultsFor(const std::string& placeholderType) const {
    TextDefaults d;
    if (!master_ || placeholderType.empty()) return d;
    const XmlNode* level = master_->xml.At(
        {"txStyles", placeholderType == "title" ? "titleStyle" : "bodyStyle", "lvl1pPr"});
    if (!level) return d;
    if (level->HasAttr("algn")) d.align = AlignOf(level->Attr("algn"));
    if (const XmlNode* rPr = level->Child("defRPr")) {
      const long sz = strtol(rPr->Attr("sz").c_str(), nullptr, 10);
      if (sz >= 100 && sz <= 400000) d.size = int(sz);
      d.hasColor = pkg_.SolidFill(rPr, d.color);
    }
    return d;
  }

  static TextParagraph::Align AlignOf(const std::string& a) {
    return a == "ctr" ? TextParagraph::Center : a == "r" ? TextParagraph::Right : TextParagraph::Left;
  }

  static ShapeModel::Anchor AnchorOf(const std::string& a) {
    return a == "ctr" ? ShapeModel::Middle : a == "b" ? ShapeModel::Bottom : ShapeModel::Top;
  }

  void Paragraphs(const XmlNode& body, ShapeModel& m, const TextDefaults& defaults = TextDefaults()) const {
    if (const XmlNode* bodyPr = body.Child("bodyPr"))
      if (bodyPr->HasAttr("anchor")) m.anchor = AnchorOf(bodyPr->Attr("anchor"));
    if (const XmlNode* af = body.At({"bodyPr", "normAutofit"})) {
      const double scale = Number(af->Attr("fontScale", "", "100000")) / 100000.0;
      if (scale > 0.01 && scale <= 1) m.fontScale = scale;
    }
    for (const XmlNode& p : body.children) {
      if (p.name != "p") continue;
      TextParagraph tp;
      tp.align = defaults.align;
      const XmlNode* pPr = p.Child("pPr");
      if (pPr && pPr->HasAttr("algn")) tp.align = AlignOf(pPr->Attr("algn"));
      std::string utf8;
      bool any = false;
      for (const XmlNode& r : p.children) {
        if (r.name == "br") {
          utf8 += "\n";
          continue;
        }
        if (r.name != "r" && r.name != "fld") continue;
        any = true;
        if (const XmlNode* t = r.Child("t")) utf8 += t->text;
        if (const XmlNode* rPr = r.Child("rPr")) {
          const long sz = strtol(rPr->Attr("sz").c_str(), nullptr, 10);
          if (!tp.sizeHundredthPt && sz >= 100 && sz <= 400000) tp.sizeHundredthPt = int(sz);
          if (rPr->Attr("b") == "1") tp.bold = true;
          if (!tp.hasColor) tp.hasColor = pkg_.SolidFill(rPr, tp.color);
        }
      }
      if (!any) continue;
      if (!tp.sizeHundredthPt) tp.sizeHundredthPt = defaults.size;
      if (!tp.hasColor && defaults.hasColor) {
        tp.hasColor = true;
        tp.color = defaults.color;
      }
      tp.text = Widen(utf8);
      m.paragraphs.push_back(std::move(tp));
    }
  }

  void Shape(const XmlNode& sp, const Part& owner, const GroupTransform& t) {
    ShapeModel m;
    std::string type, idx;
    const XmlNode* inherited = nullptr;
    const XmlNode* x = TransformOf(sp);
    const bool placeholder = PlaceholderOf(sp, type, idx);
    if (placeholder) {
      // Position and fill come from the layout's placeholder, else the master's.
      const XmlNode* fromLayout = layout_ ? FindPlaceholder(*layout_, type, idx) : nullptr;
      const XmlNode* fromMaster = master_ ? FindPlaceholder(*master_, type, "") : nullptr;
      if (!x && fromLayout) x = TransformOf(*fromLayout);
      if (!x && fromMaster) x = TransformOf(*fromMaster);
      inherited = fromLayout ? fromLayout : fromMaster;
      m.isTitle = type == "title";
      // The text anchor comes from the nearest placeholder that sets one.
      for (const XmlNode* from : {fromMaster, fromLayout})
        if (const XmlNode* bodyPr = from ? from->At({"txBody", "bodyPr"}) : nullptr)
          if (bodyPr->HasAttr("anchor")) m.anchor = AnchorOf(bodyPr->Attr("anchor"));
    }
    if (!Place(x, t, m)) return;
    if (sp.name == "cxnSp") m.kind = ShapeModel::Line;
    const XmlNode* spPr = sp.Child("spPr");
    if (spPr) {
      if (const XmlNode* g = spPr->Child("prstGeom")) {
        const std::string prst = g->Attr("prst");
        if (prst == "ellipse") m.kind = ShapeModel::Ellipse;
        else if (prst == "roundRect") m.kind = ShapeModel::RoundRectangle;
        else if (prst == "line" || prst.compare(0, 17, "straightConnector") == 0) m.kind = ShapeModel::Line;
      }
      m.hasFill = pkg_.SolidFill(spPr, m.fill);
      if (const XmlNode* ln = spPr->Child("ln")) {
        m.hasLine = pkg_.SolidFill(ln, m.line);
        const double w = Number(ln->Attr("w", "", "12700"));
        if (w > 0) m.lineWidth = w;
      }
    }
    if (!m.hasFill && inherited && !(spPr && spPr->Child("noFill"))) m.hasFill = pkg_.SolidFill(inherited->Child("spPr"), m.fill);
    if (sp.name == "pic") {
      m.kind = ShapeModel::Picture;
      const XmlNode* blip = sp.At({"blipFill", "blip"});
      auto it = blip ? owner.rels.find(blip->Attr("embed", kRelNs)) : owner.rels.end();
      if (it != owner.rels.end()) m.image = pkg_.Media(it->second);
      if (const XmlNode* crop = sp.At({"blipFill", "srcRect"})) {
        // In thousandths of a percent; a crop that leaves nothing is ignored.
        const double l = Number(crop->Attr("l")) / 100000, t = Number(crop->Attr("t")) / 100000,
                     r = Number(crop->Attr("r")) / 100000, b = Number(crop->Attr("b")) / 100000;
        if (l >= 0 && r >= 0 && t >= 0 && b >= 0 && l + r < 1 && t + b < 1) {
          m.cropLeft = l;
          m.cropTop = t;
          m.cropRight = r;
          m.cropBottom = b;
        }
      }
    }
    if (const XmlNode* body = sp.Child("txBody")) Paragraphs(*body, m, placeholder ? DefaultsFor(type) : TextDefaults());
    out_.shapes.push_back(std::move(m));
  }

  // A table: every cell becomes a framed text box on the grid of column widths and row heights.
  void Table(const XmlNode& frame, const GroupTransform& t) {
    ShapeModel box;
    if (!Place(TransformOf(frame), t, box)) return;
    const XmlNode* tbl = frame.At({"graphic", "graphicData", "tbl"});
    if (!tbl) return;
    std::vector<double> cols;
    if (const XmlNode* grid = tbl->Child("tblGrid"))
      for (const XmlNode& c : grid->children)
        if (c.name == "gridCol") cols.push_back(t.sx * Number(c.Attr("w")));
    double y = box.y;
    for (const XmlNode& tr : tbl->children) {
      if (tr.name != "tr") continue;
      const double h = t.sy * Number(tr.Attr("h"));
      size_t col = 0;
      double x = box.x;
      for (const XmlNode& tc : tr.children) {
        if (tc.name != "tc") continue;
        if (col >= cols.size() || out_.shapes.size() >= kMaxShapesPerSlide) break;
        ShapeModel cell;
        cell.kind = ShapeModel::TableCell;
        cell.x = x;
        cell.y = y;
        cell.cx = cols[col];
        cell.cy = h;
        cell.hasLine = true;
        if (const XmlNode* tcPr = tc.Child("tcPr")) {
          cell.hasFill = pkg_.SolidFill(tcPr, cell.fill);
          cell.anchor = AnchorOf(tcPr->Attr("anchor"));
        }
        if (const XmlNode* body = tc.Child("txBody")) Paragraphs(*body, cell);
        x += cols[col++];
        out_.shapes.push_back(std::move(cell));
      }
      y += h;
    }
  }
};

}  // namespace

bool LoadPptx(const std::string& bytes, Deck& deck, std::string& error) {
  Package pkg;
  if (!pkg.zip.Open(bytes, error)) return false;
  Part pres;
  if (!pkg.zip.Has("ppt/presentation.xml")) {
    error = "the package has no ppt/presentation.xml: not a presentation";
    return false;
  }
  if (!pkg.LoadPart("ppt/presentation.xml", pres, error)) return false;
  if (const XmlNode* sz = pres.xml.Child("sldSz")) {
    deck.cx = strtol(sz->Attr("cx").c_str(), nullptr, 10);
    deck.cy = strtol(sz->Attr("cy").c_str(), nullptr, 10);
  }
  if (deck.cx <= 0 || deck.cy <= 0 || deck.cx > kMaxSlideExtent || deck.cy > kMaxSlideExtent) {
    error = "the slide size is invalid";
    return false;
  }
  const std::string themePath = RelOfType(pres, "/theme");
  Part theme;
  if (!themePath.empty() && pkg.zip.Has(themePath) && pkg.LoadPart(themePath, theme, error))
    if (const XmlNode* cs = theme.xml.At({"themeElements", "clrScheme"}))
      for (const XmlNode& k : cs->children) {
        COLORREF c;
        if (!k.children.empty() && pkg.ColorOf(k.children[0], c)) pkg.scheme[k.name] = c;
      }

  std::map<std::string, Part> cache;  // layouts and masters, each parsed once
  auto cached = [&](const std::string& path) -> const Part* {
    if (path.empty()) return nullptr;
    auto it = cache.find(path);
    if (it == cache.end()) {
      Part p;
      std::string ignored;
      if (!pkg.zip.Has(path) || !pkg.LoadPart(path, p, ignored)) return nullptr;
      it = cache.emplace(path, std::move(p)).first;
    }
    return &it->second;
  };

  const XmlNode* list = pres.xml.Child("sldIdLst");
  if (!list) return true;  // a deck without slides
  for (const XmlNode& id : list->children) {
    if (id.name != "sldId") continue;
    if (deck.slides.size() >= kMaxSlides) {
      error = "the deck has more than " + std::to_string(kMaxSlides) + " slides";
      return false;
    }
    auto rel = pres.rels.find(id.Attr("id", kRelNs));
    if (rel == pres.rels.end()) {
      error = "slide " + std::to_string(deck.slides.size() + 1) + " has no relationship";
      return false;
    }
    Part slide;
    if (!pkg.LoadPart(rel->second, slide, error)) return false;
    const Part* layout = cached(RelOfType(slide, "/slideLayout"));
    const Part* master = layout ? cached(RelOfType(*layout, "/slideMaster")) : nullptr;
    deck.slides.emplace_back();
    SlideModel& model = deck.slides.back();
    model.hidden = slide.xml.Attr("show") == "0";
    pkg.colorMap.clear();
    if (const XmlNode* map = master ? master->xml.Child("clrMap") : nullptr)
      for (const XmlAttribute& a : map->attributes) pkg.colorMap[a.name] = a.value;
    SlideBuilder b(pkg, layout, master, model);
    if (!b.Background(slide, model.background) && !(layout && b.Background(*layout, model.background)) && master)
      b.Background(*master, model.background);
    // Decoration of master and layout lies under the slide's own shapes.
    for (const Part* p : {master, layout}) {
      if (!p || slide.xml.Attr("showMasterSp") == "0") continue;
      if (const XmlNode* tree = p->xml.At({"cSld", "spTree"})) b.Shapes(*tree, *p, false, GroupTransform());
    }
    if (const XmlNode* tree = slide.xml.At({"cSld", "spTree"})) b.Shapes(*tree, slide, true, GroupTransform());
  }
  return true;
}

}  // namespace presenter
