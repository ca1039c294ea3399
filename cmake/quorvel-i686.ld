/* How quorvel.exe is laid out, as common Windows linkers lay out small programs: code alone in the
   executable section; read-only data, the import tables and the base relocations in one read-only
   section; writable data and the resources in sections of their own. A separate .reloc section
   would cost a file block of its own for under 200 bytes, so the relocations end .rdata and
   finish-image.py points the base relocation directory at them. */
OUTPUT_FORMAT(pei-i386)
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ :
  {
    *(.text) *(SORT(.text$*)) *(.text.*)
  }
  .rdata BLOCK(__section_alignment__) :
  {
    *(.rdata) *(SORT(.rdata$*))
    . = ALIGN(4);
    /* The import tables, in the order the loader walks them. The linker fills the import and
       import address table directories from these symbols: the loader makes the address table
       writable while it binds it, so it may live in a read-only section. */
    ".idata$2" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* The empty descriptor that ends the import directory. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    ".idata$4" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$4))
    ".idata$5" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$5))
    ".idata$6" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
    /* Last, so that the table the linker sizes after layout moves nothing that it describes.
       The link map names these two symbols' addresses. */
    . = ALIGN(4);
    __base_relocations_start = .;
    KEEP (*(.reloc))
    __base_relocations_end = .;
  }
  .data BLOCK(__section_alignment__) : { *(.data) *(.data2) *(SORT(.data$*)) }
  .bss BLOCK(__section_alignment__) : { *(.bss) *(COMMON) }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4) { KEEP (*(.rsrc)) KEEP (*(.rsrc$*)) }
  /* Anything a runtime would bring (constructor lists, TLS, exception tables) has no place here:
     it lands in a section of its own name, which the executable check refuses. */
  /DISCARD/ : { *(.debug$S) *(.debug$T) *(.debug$F) *(.drectve) *(.note.GNU-stack) *(.gnu.lto_*) }
}
