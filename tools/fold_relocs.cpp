// fold_relocs: moves a PE32 or PE32+ image's base relocations out of their
// own .reloc section into the slack at the end of another read-only section,
// then packs the headers and section data again at the image's own file
// alignment.
//
// A linker gives .reloc a section of its own, and every section costs a whole
// file-alignment block on disk: for showfile.exe, a fifth of the file. The
// relocations stay where the base relocation directory says, so the image
// can still be loaded at any base.
//
// It refuses what it can't fold faithfully, and checks what it wrote against
// the layout rules a loader enforces before it lets the output stand.
//
//   fold_relocs IN.exe OUT.exe [SECTION]   fold; SECTION defaults to .rdata
//   fold_relocs --check IMAGE.exe          only check IMAGE's layout
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// The headers read and written here, laid out as in the file and named as the PE
// format names them. Each is copied whole between the image and its struct, so
// the host must hold numbers as the file does.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "PE headers are little-endian");

struct DosHeader {
  uint16_t e_magic, e_cblp, e_cp, e_crlc, e_cparhdr, e_minalloc, e_maxalloc, e_ss, e_sp, e_csum;
  uint16_t e_ip, e_cs, e_lfarlc, e_ovno, e_res[4], e_oemid, e_oeminfo, e_res2[10];
  uint32_t e_lfanew; // where the "PE\0\0" signature is, the file header after it
};
static_assert(sizeof(DosHeader) == 64);

struct FileHeader {
  uint16_t Machine, NumberOfSections;
  uint32_t TimeDateStamp, PointerToSymbolTable, NumberOfSymbols;
  uint16_t SizeOfOptionalHeader, Characteristics;
};
static_assert(sizeof(FileHeader) == 20);

// The optional header of each format, up to its data directories.
struct OptionalHeader32 {
  uint16_t Magic;
  uint8_t MajorLinkerVersion, MinorLinkerVersion;
  uint32_t SizeOfCode, SizeOfInitializedData, SizeOfUninitializedData, AddressOfEntryPoint;
  uint32_t BaseOfCode, BaseOfData, ImageBase, SectionAlignment, FileAlignment;
  uint16_t MajorOperatingSystemVersion, MinorOperatingSystemVersion, MajorImageVersion,
      MinorImageVersion, MajorSubsystemVersion, MinorSubsystemVersion;
  uint32_t Win32VersionValue, SizeOfImage, SizeOfHeaders, CheckSum;
  uint16_t Subsystem, DllCharacteristics;
  uint32_t SizeOfStackReserve, SizeOfStackCommit, SizeOfHeapReserve, SizeOfHeapCommit;
  uint32_t LoaderFlags, NumberOfRvaAndSizes;
};
static_assert(sizeof(OptionalHeader32) == 96);
struct OptionalHeader64 {
  uint16_t Magic;
  uint8_t MajorLinkerVersion, MinorLinkerVersion;
  uint32_t SizeOfCode, SizeOfInitializedData, SizeOfUninitializedData, AddressOfEntryPoint;
  uint32_t BaseOfCode;
  uint64_t ImageBase;
  uint32_t SectionAlignment, FileAlignment;
  uint16_t MajorOperatingSystemVersion, MinorOperatingSystemVersion, MajorImageVersion,
      MinorImageVersion, MajorSubsystemVersion, MinorSubsystemVersion;
  uint32_t Win32VersionValue, SizeOfImage, SizeOfHeaders, CheckSum;
  uint16_t Subsystem, DllCharacteristics;
  uint64_t SizeOfStackReserve, SizeOfStackCommit, SizeOfHeapReserve, SizeOfHeapCommit;
  uint32_t LoaderFlags, NumberOfRvaAndSizes;
};
static_assert(sizeof(OptionalHeader64) == 112);

struct DataDirectory {
  uint32_t VirtualAddress, Size;
};
static_assert(sizeof(DataDirectory) == 8);
const uint32_t IMAGE_DIRECTORY_ENTRY_SECURITY = 4, IMAGE_DIRECTORY_ENTRY_BASERELOC = 5,
               IMAGE_DIRECTORY_ENTRY_DEBUG = 6;

struct SectionHeader {
  char Name[8];
  uint32_t VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData;
  uint32_t PointerToRelocations, PointerToLinenumbers;
  uint16_t NumberOfRelocations, NumberOfLinenumbers;
  uint32_t Characteristics;
};
static_assert(sizeof(SectionHeader) == 40);
const uint32_t IMAGE_SCN_CNT_INITIALIZED_DATA = 0x40, IMAGE_SCN_MEM_WRITE = 0x80000000u;

// A block of base relocations: this header, then 2-byte entries, each a kind in
// the top 4 bits (ABSOLUTE: padding) and an offset into the block's page below.
struct BaseRelocationBlock {
  uint32_t PageRVA, BlockSize;
};
static_assert(sizeof(BaseRelocationBlock) == 8);
enum { IMAGE_REL_BASED_ABSOLUTE = 0, IMAGE_REL_BASED_HIGHLOW = 3, IMAGE_REL_BASED_DIR64 = 10 };

// Every read and write is bounds-checked: a short or damaged image ends in a message.
template <class T> static T Read(const Bytes &Image, uint64_t At) {
  if (At + sizeof(T) > Image.size())
    throw std::runtime_error("the image is cut short");
  T Value;
  std::memcpy(&Value, &Image[At], sizeof(T));
  return Value;
}

template <class T> static void Write(Bytes &Image, uint64_t At, const T &Value) {
  Read<T>(Image, At); // the same bounds
  std::memcpy(&Image[At], &Value, sizeof(T));
}

// Sums and roundings are done in 64 bits; one that doesn't fit the 32-bit
// field it is meant for is refused.
static uint32_t Fit(uint64_t Value) {
  if (Value > UINT32_MAX)
    throw std::runtime_error("a size or address overflows 32 bits");
  return (uint32_t)Value;
}

static uint64_t AlignUp(uint64_t Value, uint32_t Alignment) {
  return (Value + Alignment - 1) / Alignment * Alignment;
}

// Where an image's headers lie, its sections, and the optional header fields it rests on.
struct LAYOUT {
  bool Plus; // PE32+, not PE32
  uint64_t File, Optional, Directories, Table;
  std::vector<SectionHeader> Sections;
  uint32_t FileAlignment, SectionAlignment, DirectoryCount;
  uint32_t AddressOfEntryPoint, SizeOfImage, SizeOfHeaders;
  uint64_t Section(size_t I) const {
    return Table + I * sizeof(SectionHeader);
  }
  uint64_t Directory(uint32_t I) const {
    return Directories + (uint64_t)I * sizeof(DataDirectory);
  }
};

// Hands Use the image's optional header, read into the struct of its format.
template <class USE> static auto WithOptionalHeader(const Bytes &Image, const LAYOUT &L, USE Use) {
  return L.Plus ? Use(Read<OptionalHeader64>(Image, L.Optional))
                : Use(Read<OptionalHeader32>(Image, L.Optional));
}

static LAYOUT Locate(const Bytes &Image) {
  if (Image.size() < sizeof(DosHeader))
    throw std::runtime_error("not an MZ image");
  DosHeader Dos = Read<DosHeader>(Image, 0);
  if (Dos.e_magic != 0x5A4D) // "MZ"
    throw std::runtime_error("not an MZ image");
  LAYOUT L;
  L.File = Dos.e_lfanew + sizeof(uint32_t); // after the signature
  L.Optional = L.File + sizeof(FileHeader);
  if (Read<uint32_t>(Image, L.File - sizeof(uint32_t)) != 0x4550) // "PE\0\0"
    throw std::runtime_error("not a PE image");
  uint16_t Magic = Read<uint16_t>(Image, L.Optional); // either format's first field
  if (Magic != 0x10B && Magic != 0x20B)               // PE32, PE32+
    throw std::runtime_error("neither a PE32 nor a PE32+ image");
  L.Plus = Magic == 0x20B;
  FileHeader File = Read<FileHeader>(Image, L.File);
  L.Table = L.Optional + File.SizeOfOptionalHeader;
  WithOptionalHeader(Image, L, [&](auto Optional) {
    L.Directories = L.Optional + sizeof(Optional);
    L.FileAlignment = Optional.FileAlignment;
    L.SectionAlignment = Optional.SectionAlignment;
    L.DirectoryCount = std::min<uint32_t>(Optional.NumberOfRvaAndSizes, 16);
    L.AddressOfEntryPoint = Optional.AddressOfEntryPoint;
    L.SizeOfImage = Optional.SizeOfImage;
    L.SizeOfHeaders = Optional.SizeOfHeaders;
  });
  if (L.FileAlignment < 512 || (L.FileAlignment & (L.FileAlignment - 1)) != 0 ||
      L.SectionAlignment < L.FileAlignment || (L.SectionAlignment & (L.SectionAlignment - 1)) != 0)
    throw std::runtime_error("the file or section alignment is not one a loader takes");
  if (File.NumberOfSections == 0 || L.Directory(L.DirectoryCount) > L.Table)
    throw std::runtime_error("the headers don't hold together");
  for (uint32_t I = 0; I < File.NumberOfSections; I++)
    L.Sections.push_back(Read<SectionHeader>(Image, L.Section(I)));
  return L;
}

// The section whose addresses hold Size bytes from Address, as far as the
// section's Extent (VirtualSize or SizeOfRawData) reaches; null when none does.
static const SectionHeader *SectionHolding(const LAYOUT &L, uint64_t Address, uint64_t Size,
                                           uint32_t SectionHeader::*Extent) {
  for (const SectionHeader &S : L.Sections)
    if (Address >= S.VirtualAddress && Address + Size <= (uint64_t)S.VirtualAddress + S.*Extent)
      return &S;
  return nullptr;
}

// The file offset of an address in the image, where a section has its bytes.
static uint64_t OffsetOf(const LAYOUT &L, uint64_t Address, uint32_t Size) {
  const SectionHeader *S = SectionHolding(L, Address, Size, &SectionHeader::SizeOfRawData);
  if (!S)
    throw std::runtime_error("an address has no bytes in the file");
  return S->PointerToRawData + Address - S->VirtualAddress;
}

// Walks the base relocation table as a loader does: a table a loader would
// refuse is refused here, as is any kind of relocation but the one the
// format's code uses, or one that moves a word with no bytes in the file.
static void CheckRelocations(const Bytes &Image, const LAYOUT &L) {
  uint32_t Kind = L.Plus ? IMAGE_REL_BASED_DIR64 : IMAGE_REL_BASED_HIGHLOW, Width = L.Plus ? 8 : 4;
  auto Table = Read<DataDirectory>(Image, L.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC));
  uint64_t Next = Table.VirtualAddress, End = Next + Table.Size;
  while (Next < End) {
    auto Block = Read<BaseRelocationBlock>(Image, OffsetOf(L, Next, sizeof(BaseRelocationBlock)));
    if (Block.BlockSize < sizeof(BaseRelocationBlock) || Block.BlockSize % 4 != 0)
      throw std::runtime_error("a relocation block's size is not a whole number of words");
    if (Next + Block.BlockSize > End)
      throw std::runtime_error("a relocation block runs past the relocation table");
    uint64_t At = OffsetOf(L, Next, Block.BlockSize);
    for (uint32_t Offset = sizeof(BaseRelocationBlock); Offset < Block.BlockSize; Offset += 2) {
      uint32_t Entry = Read<uint16_t>(Image, At + Offset);
      if (Entry >> 12 == IMAGE_REL_BASED_ABSOLUTE)
        continue;
      if (Entry >> 12 != Kind)
        throw std::runtime_error(std::string("a relocation of a kind ") +
                                 (L.Plus ? "PE32+" : "PE32") + " code doesn't use");
      OffsetOf(L, (uint64_t)Block.PageRVA + (Entry & 0xFFF), Width);
    }
    Next += Block.BlockSize;
  }
}

// The rules a loader holds an image to, as far as folding can break them.
// Returns what is wrong, or an empty string.
static std::string CheckLayout(const Bytes &Image) {
  try {
    LAYOUT L = Locate(Image);
    uint64_t Headers = L.SizeOfHeaders;
    if (Headers != AlignUp(L.Section(L.Sections.size()), L.FileAlignment) || Headers > Image.size())
      return "SizeOfHeaders is not the section table's end, rounded to the file alignment";
    uint64_t NextAddress = AlignUp(Headers, L.SectionAlignment), NextRaw = Headers;
    for (size_t I = 0; I < L.Sections.size(); I++) {
      std::string Section = "section " + std::to_string(I);
      uint64_t Address = L.Sections[I].VirtualAddress, Size = L.Sections[I].VirtualSize;
      uint64_t Raw = L.Sections[I].PointerToRawData, RawBytes = L.Sections[I].SizeOfRawData;
      if (Address != NextAddress)
        return Section + " doesn't follow the one before it in memory";
      if (RawBytes != 0) {
        if (Raw % L.FileAlignment != 0)
          return Section + "'s data doesn't start on the file alignment";
        if (RawBytes % L.FileAlignment != 0)
          return Section + "'s data isn't a whole number of file-alignment blocks";
        if (Raw < NextRaw)
          return Section + "'s data overlaps the headers or the section before it";
        if (Raw + RawBytes > Image.size())
          return Section + "'s data runs past the file";
        NextRaw = Raw + RawBytes;
      }
      NextAddress = AlignUp(Address + std::max(Size, RawBytes), L.SectionAlignment);
    }
    if (L.SizeOfImage != NextAddress)
      return "SizeOfImage is not the end of the last section";
    if (NextRaw != Image.size())
      return "the file holds bytes that no section owns";

    // Every directory but the certificate table (a file offset) lies whole
    // inside one section, and the entry point inside one.
    auto Inside = [&](uint64_t Address, uint64_t Size) {
      return SectionHolding(L, Address, Size, &SectionHeader::VirtualSize) != nullptr;
    };
    for (uint32_t I = 0; I < L.DirectoryCount; I++) {
      auto Directory = Read<DataDirectory>(Image, L.Directory(I));
      if (I != IMAGE_DIRECTORY_ENTRY_SECURITY && Directory.Size != 0 &&
          !Inside(Directory.VirtualAddress, Directory.Size))
        return "data directory " + std::to_string(I) + " is not inside a section";
    }
    if (!Inside(L.AddressOfEntryPoint, 1))
      return "the entry point is not inside a section";
    CheckRelocations(Image, L);
    return "";
  } catch (const std::exception &Error) {
    return Error.what();
  }
}

static bool ReadImage(const std::string &Path, Bytes &Image) {
  std::ifstream In(Path, std::ios::binary);
  Image.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return In.is_open() && !In.bad();
}

static bool WriteImage(const std::string &Path, const Bytes &Image) {
  std::ofstream Out(Path, std::ios::binary);
  Out.write((const char *)Image.data(), (std::streamsize)Image.size());
  Out.close();
  return Out.good();
}

static int Fail(const std::string &Why) {
  std::fprintf(stderr, "fold_relocs: %s\n", Why.c_str());
  return 1;
}

// Folds the image in place, or throws what stands in the way.
static void Fold(Bytes &Image, const char *Into) {
  LAYOUT L = Locate(Image);
  if (Read<FileHeader>(Image, L.File).PointerToSymbolTable != 0)
    throw std::runtime_error("the image still has a symbol table; strip it first");
  // These directories point at file offsets, which the new layout would move.
  for (uint32_t Index : {IMAGE_DIRECTORY_ENTRY_SECURITY, IMAGE_DIRECTORY_ENTRY_DEBUG})
    if (Index < L.DirectoryCount && Read<DataDirectory>(Image, L.Directory(Index)).Size != 0)
      throw std::runtime_error(Index == IMAGE_DIRECTORY_ENTRY_SECURITY
                                   ? "the image is signed (a certificate table)"
                                   : "the image has a debug directory");

  // Each section's raw data, as it stands, beside its header.
  std::vector<Bytes> Data;
  int Relocs = -1, Target = -1;
  for (const SectionHeader &S : L.Sections) {
    uint64_t Raw = S.PointerToRawData, Size = S.SizeOfRawData;
    if (Raw + Size > Image.size())
      throw std::runtime_error("a section runs past the end of the file");
    if (std::memcmp(S.Name, ".reloc\0", 8) == 0)
      Relocs = (int)Data.size();
    if (std::strncmp(S.Name, Into, 8) == 0)
      Target = (int)Data.size();
    Data.emplace_back(Image.begin() + Raw, Image.begin() + Raw + Size);
  }
  if (Relocs < 0 || Target < 0)
    throw std::runtime_error("no .reloc section, or no section to fold it into");
  // Taking a section out of the middle would leave a hole in the image.
  if (Relocs != (int)Data.size() - 1)
    throw std::runtime_error(".reloc is not the last section");

  SectionHeader &From = L.Sections[Relocs], &To = L.Sections[Target];
  uint64_t Directory = L.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC);
  auto Table = Read<DataDirectory>(Image, Directory);
  if (Table.VirtualAddress != From.VirtualAddress || Table.Size > Data[Relocs].size())
    throw std::runtime_error("the base relocation directory is not the .reloc section");
  if (To.Characteristics & IMAGE_SCN_MEM_WRITE)
    throw std::runtime_error("the target section is writable");

  // Append the relocation blocks, 4-byte aligned, to the target's contents,
  // without reaching into the next section's addresses.
  uint32_t Start = Fit(AlignUp(To.VirtualSize, 4)), End = Fit((uint64_t)Start + Table.Size);
  uint64_t Room = AlignUp((uint64_t)To.VirtualAddress + End, L.SectionAlignment);
  for (const SectionHeader &S : L.Sections)
    if (&S != &From && S.VirtualAddress > To.VirtualAddress && S.VirtualAddress < Room)
      throw std::runtime_error("no room for the relocations after the target section");
  Data[Target].resize(std::max<size_t>(Data[Target].size(), Fit(AlignUp(End, L.FileAlignment))));
  std::memcpy(&Data[Target][Start], &Data[Relocs][0], Table.Size);
  To.VirtualSize = End;
  To.SizeOfRawData = (uint32_t)Data[Target].size();
  Table.VirtualAddress = Fit((uint64_t)To.VirtualAddress + Start);
  Write(Image, Directory, Table);
  L.Sections.pop_back(); // .reloc
  Data.pop_back();

  // Lay the file out again: the headers, then each section's data in turn.
  uint32_t Headers = Fit(AlignUp(L.Section(L.Sections.size()), L.FileAlignment));
  Bytes Out(Image.begin(), Image.begin() + L.Table);
  Out.resize(Headers, 0);
  uint64_t Initialized = 0, Extent = 0;
  for (size_t I = 0; I < L.Sections.size(); I++) {
    SectionHeader &S = L.Sections[I];
    S.PointerToRawData = Data[I].empty() ? 0 : Fit(Out.size());
    Write(Out, L.Section(I), S);
    Out.insert(Out.end(), Data[I].begin(), Data[I].end());
    if (S.Characteristics & IMAGE_SCN_CNT_INITIALIZED_DATA)
      Initialized += Data[I].size();
    Extent = std::max<uint64_t>(Extent, (uint64_t)S.VirtualAddress + S.VirtualSize);
  }
  auto File = Read<FileHeader>(Out, L.File);
  File.NumberOfSections = (uint16_t)L.Sections.size();
  Write(Out, L.File, File);
  WithOptionalHeader(Out, L, [&](auto Optional) {
    Optional.SizeOfHeaders = Headers;
    Optional.SizeOfInitializedData = Fit(Initialized);
    Optional.SizeOfImage = Fit(AlignUp(Extent, L.SectionAlignment));
    Optional.CheckSum = 0;
    Write(Out, L.Optional, Optional);
  });
  Image.swap(Out);
}

int main(int Count, char **Arguments) {
  bool Check = Count == 3 && std::strcmp(Arguments[1], "--check") == 0;
  if (!Check && (Count < 3 || Count > 4))
    return Fail("usage: fold_relocs IN.exe OUT.exe [SECTION] | --check IMAGE.exe");
  std::string In = Arguments[Check ? 2 : 1], Out = Arguments[2];

  Bytes Image;
  if (!ReadImage(In, Image))
    return Fail("can't read " + In);
  if (Check) {
    std::string Wrong = CheckLayout(Image);
    return Wrong.empty() ? 0 : Fail(In + ": " + Wrong);
  }
  try {
    Fold(Image, Count > 3 ? Arguments[3] : ".rdata");
  } catch (const std::exception &Error) {
    return Fail(In + ": " + Error.what());
  }
  if (!WriteImage(Out, Image))
    return Fail("can't write " + Out);

  // What was folded must be read back whole and pass a loader's rules.
  Bytes Written;
  std::string Wrong = !ReadImage(Out, Written) || Written != Image
                          ? "it doesn't read back as written"
                          : CheckLayout(Written);
  if (!Wrong.empty()) {
    std::filesystem::remove(Out);
    return Fail(Out + ": " + Wrong);
  }
  namespace fs = std::filesystem;
  fs::permissions(Out, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add);
  return 0;
}
