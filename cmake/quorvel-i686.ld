/* How quorvel.exe is laid out, as common Windows linkers lay out small programs: code, read-only
   data and the import tables share one read-only section, writable data and the resources have
   their own. Three section headers keep the headers within one 512-byte file block, and only three
   sections are padded to the file alignment. */
OUTPUT_FORMAT(pei-i386)
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ (READONLY) :
  {
    *(.text) *(SORT(.text$*)) *(.text.*)
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
  }
  .data BLOCK(__section_alignment__) : { *(.data) *(.data2) *(SORT(.data$*)) }
  .bss BLOCK(__section_alignment__) : { *(.bss) *(COMMON) }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4) { KEEP (*(.rsrc)) KEEP (*(.rsrc$*)) }
  /* Anything a runtime would bring (constructor lists, TLS, exception tables) has no place here:
     it lands in a section of its own name, which the executable check refuses. */
  /DISCARD/ : { *(.debug$S) *(.debug$T) *(.debug$F) *(.drectve) *(.note.GNU-stack) *(.gnu.lto_*) }
}
