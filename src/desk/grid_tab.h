#pragma once
// The three tabs of the desk: each shows its own tree and lists the grid its own way.
namespace px::desk {

enum class GridTab { Files = 0, Contacts = 1, Tools = 2 };

}  // namespace px::desk
