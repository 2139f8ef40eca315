// fold_relocs: moves a PE32 image's base relocations out of their own .reloc
// section into the slack at the end of another read-only section, then packs
// the headers and section data again at the image's own file alignment.
//
// A linker gives .reloc a section of its own, and every section costs a whole
// file-alignment block on disk: for a program as small as showfile.exe, a
// third of the file. The relocations stay in the image, where the base
// relocation directory says, so the image can still be loaded at any base.
//
//   fold_relocs IN.exe OUT.exe [SECTION]     SECTION defaults to .rdata
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

typedef std::vector<uint8_t> Bytes;

static uint32_t Get(const Bytes &Image, size_t At, int Size) {
  uint32_t Value = 0;
  for (int I = Size - 1; I >= 0; I--)
    Value = Value << 8 | Image.at(At + I);
  return Value;
}

static void Put(Bytes &Image, size_t At, int Size, uint32_t Value) {
  for (int I = 0; I < Size; I++, Value >>= 8)
    Image.at(At + I) = (uint8_t)Value;
}

static uint32_t AlignUp(uint32_t Value, uint32_t Alignment) {
  return (Value + Alignment - 1) / Alignment * Alignment;
}

static int Fail(const char *Why) {
  std::fprintf(stderr, "fold_relocs: %s\n", Why);
  return 1;
}

// Offsets in the PE32 headers.
enum {
  SectionCount = 2,        // in the file header
  SymbolTable = 8,         // in the file header
  OptionalHeaderSize = 16, // in the file header
  InitializedData = 8,     // from here on, in the optional header
  SectionAlignment = 32,
  FileAlignment = 36,
  ImageSize = 56,
  HeadersSize = 60,
  CheckSum = 64,
  BaseRelocations = 96 + 5 * 8,
  SectionName = 0, // from here on, in a section header
  VirtualSize = 8,
  VirtualAddress = 12,
  RawSize = 16,
  RawPointer = 20,
  Characteristics = 36,
  SectionHeaderSize = 40,
};
const uint32_t InitializedDataFlag = 0x40;

int main(int Count, char **Arguments) {
  if (Count < 3)
    return Fail("usage: fold_relocs IN.exe OUT.exe [SECTION]");
  const char *Into = Count > 3 ? Arguments[3] : ".rdata";
  std::ifstream In(Arguments[1], std::ios::binary);
  Bytes Image((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  if (Image.size() < 0x40 || Image[0] != 'M' || Image[1] != 'Z')
    return Fail("not an MZ image");

  size_t File = Get(Image, 0x3C, 4) + 4;
  size_t Optional = File + 20;
  if (Get(Image, File - 4, 4) != 0x4550 || Get(Image, Optional, 2) != 0x10B)
    return Fail("not a PE32 image");
  if (Get(Image, File + SymbolTable, 4) != 0)
    return Fail("the image still has a symbol table; strip it first");
  size_t Table = Optional + Get(Image, File + OptionalHeaderSize, 2);
  uint32_t Sections = Get(Image, File + SectionCount, 2);
  uint32_t Alignment = Get(Image, Optional + FileAlignment, 4);

  // Each section's header and raw data, as they stand.
  struct Section {
    Bytes Header, Data;
  };
  std::vector<Section> All;
  int Relocs = -1, Target = -1;
  for (uint32_t I = 0; I < Sections; I++) {
    size_t At = Table + I * SectionHeaderSize;
    Section S;
    S.Header.assign(Image.begin() + At, Image.begin() + At + SectionHeaderSize);
    uint32_t Raw = Get(Image, At + RawPointer, 4), Size = Get(Image, At + RawSize, 4);
    if (Raw + Size > Image.size())
      return Fail("a section runs past the end of the file");
    S.Data.assign(Image.begin() + Raw, Image.begin() + Raw + Size);
    if (std::memcmp(&S.Header[SectionName], ".reloc\0", 8) == 0)
      Relocs = (int)I;
    if (std::strncmp((const char *)&S.Header[SectionName], Into, 8) == 0)
      Target = (int)I;
    All.push_back(S);
  }
  if (Relocs < 0 || Target < 0)
    return Fail("no .reloc section, or no section to fold it into");

  Section &From = All[Relocs], &To = All[Target];
  uint32_t RelocsAt = Get(Image, Optional + BaseRelocations, 4);
  uint32_t RelocsSize = Get(Image, Optional + BaseRelocations + 4, 4);
  if (RelocsAt != Get(From.Header, VirtualAddress, 4) || RelocsSize > From.Data.size())
    return Fail("the base relocation directory is not the .reloc section");

  // Append the relocation blocks, 4-byte aligned, to the target's contents,
  // without reaching into the next section's addresses.
  uint32_t Start = AlignUp(Get(To.Header, VirtualSize, 4), 4);
  uint32_t End = Start + RelocsSize;
  uint32_t ToAddress = Get(To.Header, VirtualAddress, 4);
  for (const Section &S : All)
    if (&S != &From && Get(S.Header, VirtualAddress, 4) > ToAddress &&
        Get(S.Header, VirtualAddress, 4) < ToAddress + End)
      return Fail("no room for the relocations after the target section");
  if (Get(To.Header, Characteristics, 4) & 0x80000000u)
    return Fail("the target section is writable");
  To.Data.resize(std::max<size_t>(To.Data.size(), AlignUp(End, Alignment)), 0);
  std::memcpy(&To.Data[Start], &From.Data[0], RelocsSize);
  Put(To.Header, VirtualSize, 4, End);
  Put(To.Header, RawSize, 4, (uint32_t)To.Data.size());
  Put(Image, Optional + BaseRelocations, 4, ToAddress + Start);
  All.erase(All.begin() + Relocs);

  // Lay the file out again: the headers, then each section's data in turn.
  Sections = (uint32_t)All.size();
  uint32_t Headers = AlignUp((uint32_t)(Table + Sections * SectionHeaderSize), Alignment);
  Bytes Out(Image.begin(), Image.begin() + Table);
  Out.resize(Headers, 0);
  uint32_t Offset = Headers, Initialized = 0, Extent = 0;
  for (uint32_t I = 0; I < Sections; I++) {
    Section &S = All[I];
    Put(S.Header, RawPointer, 4, S.Data.empty() ? 0 : Offset);
    std::memcpy(&Out[Table + I * SectionHeaderSize], &S.Header[0], SectionHeaderSize);
    Out.insert(Out.end(), S.Data.begin(), S.Data.end());
    Offset += (uint32_t)S.Data.size();
    if (Get(S.Header, Characteristics, 4) & InitializedDataFlag)
      Initialized += (uint32_t)S.Data.size();
    uint32_t Top = Get(S.Header, VirtualAddress, 4) + Get(S.Header, VirtualSize, 4);
    Extent = Top > Extent ? Top : Extent;
  }
  Put(Out, File + SectionCount, 2, Sections);
  Put(Out, Optional + HeadersSize, 4, Headers);
  Put(Out, Optional + InitializedData, 4, Initialized);
  Put(Out, Optional + ImageSize, 4, AlignUp(Extent, Get(Out, Optional + SectionAlignment, 4)));
  Put(Out, Optional + CheckSum, 4, 0);

  std::ofstream Result(Arguments[2], std::ios::binary);
  Result.write((const char *)Out.data(), (std::streamsize)Out.size());
  Result.close();
  if (!Result)
    return Fail("can't write the output");
  std::filesystem::permissions(Arguments[2],
                               std::filesystem::perms::owner_exec |
                                   std::filesystem::perms::group_exec |
                                   std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  return 0;
}
