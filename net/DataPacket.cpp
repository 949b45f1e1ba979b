#include "net/DataPacket.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include <pugixml.hpp>

namespace qvu {

namespace {

// pugixml takes its memory through one pair of functions for the whole process. Outside a
// packet read they are malloc and free, as pugixml's own; during one, what the tree takes
// is counted against the read's budget, and an allocation past it fails the parse.
thread_local size_t* treeBudget = nullptr;

void* BudgetedAllocate(size_t size) {
  if (treeBudget != nullptr) {
    if (size > *treeBudget) return nullptr;
    *treeBudget -= size;
  }
  return std::malloc(size);
}

void Deallocate(void* p) { std::free(p); }

class TreeBudget {
 public:
  explicit TreeBudget(size_t bytes) : left_(bytes) {
    static const bool installed = [] {
      pugi::set_memory_management_functions(&BudgetedAllocate, &Deallocate);
      return true;
    }();
    (void)installed;
    treeBudget = &left_;
  }
  ~TreeBudget() { treeBudget = nullptr; }
  TreeBudget(const TreeBudget&) = delete;
  TreeBudget& operator=(const TreeBudget&) = delete;

 private:
  size_t left_;
};

}  // namespace

PacketRead ReadVersionPacket(std::string text, TVersionTable& rows, std::string& error) {
  rows.clear();
  if (text.size() > kMaxPacketBytes) return PacketRead::TooLarge;
  pugi::xml_document doc;
  pugi::xml_parse_result parsed;
  {
    TreeBudget budget(kMaxPacketTreeBytes);
    // parse_default keeps parse_doctype off: a DOCTYPE is skipped as a whole, so no entity
    // it declares is ever defined, let alone expanded.
    parsed = doc.load_buffer_inplace(text.data(), text.size(), pugi::parse_default,
                                     pugi::encoding_utf8);
  }
  if (parsed.status == pugi::status_out_of_memory) return PacketRead::TooLarge;
  if (!parsed) return PacketRead::NotXml;

  const pugi::xml_node packet = doc.document_element();
  if (std::string(packet.name()) != "DATAPACKET") {
    error = std::string("Root element is not DATAPACKET: <") + packet.name() + ">";
    return PacketRead::NotPacket;
  }
  const pugi::xml_node fields = packet.child("METADATA").child("FIELDS");
  if (!fields) {
    error = "DATAPACKET has no METADATA/FIELDS";
    return PacketRead::NotPacket;
  }

  // Only declared columns exist for the dataset; each maps to a field or to nothing.
  std::vector<std::string> columns;
  for (const pugi::xml_node field : fields.children("FIELD"))
    columns.emplace_back(field.attribute("attrname").value());
  STVersion_tb probe;
  std::vector<std::string> known;
  for (const std::string& column : columns)
    if (VersionField(probe, column) != nullptr) known.push_back(column);

  const pugi::xml_node rowData = packet.child("ROWDATA");
  size_t count = 0;
  for (auto it = rowData.children("ROW").begin(); it != rowData.children("ROW").end(); ++it)
    if (++count > kMaxPacketRows) return PacketRead::TooLarge;
  rows.reserve(count);
  for (const pugi::xml_node row : rowData.children("ROW")) {
    STVersion_tb& entry = rows.emplace_back();
    for (const std::string& column : known)
      *VersionField(entry, column) = row.attribute(column.c_str()).value();
  }
  return PacketRead::Ok;
}

std::string WriteVersionLogPacket(const TVersionTable& entries) {
  struct Column {
    const char* name;
    const char* width;
    std::string STVersion_tb::*value;
  };
  static const Column kColumns[] = {
      {"SALONID", "12", &STVersion_tb::SALONID},     {"SHOP_CODE", "20", &STVersion_tb::SHOP_CODE},
      {"FILENAME", "100", &STVersion_tb::FILENAME},  {"VER_NO", "100", &STVersion_tb::VER_NO},
      {"REVISE_NO", "100", &STVersion_tb::REVISE_NO}, {"FILE_DT", "38", &STVersion_tb::FILE_DT},
      {"USE_DT", "38", &STVersion_tb::USE_DT},
  };
  pugi::xml_document doc;
  pugi::xml_node decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  decl.append_attribute("standalone") = "yes";

  pugi::xml_node packet = doc.append_child("DATAPACKET");
  packet.append_attribute("Version") = "2.0";
  pugi::xml_node fields = packet.append_child("METADATA").append_child("FIELDS");
  for (const Column& c : kColumns) {
    pugi::xml_node field = fields.append_child("FIELD");
    field.append_attribute("attrname") = c.name;
    field.append_attribute("fieldtype") = "string";
    field.append_attribute("width") = c.width;
  }
  pugi::xml_node rowData = packet.append_child("ROWDATA");
  for (const STVersion_tb& entry : entries) {
    pugi::xml_node row = rowData.append_child("ROW");
    for (const Column& c : kColumns) row.append_attribute(c.name) = (entry.*c.value).c_str();
  }
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return out.str();
}

}  // namespace qvu
