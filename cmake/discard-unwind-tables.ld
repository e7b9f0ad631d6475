/* Added to the default link script of the exe. The program throws no
   exceptions and unwinds no stack, yet the runtime's start-up objects
   bring call-frame tables that would take 2 KiB of the exe; they are only
   ever handed to an unwinder that is not linked in. */
SECTIONS
{
  /DISCARD/ : { *(.eh_frame) *(.eh_frame.*) }
}
INSERT BEFORE .text;
