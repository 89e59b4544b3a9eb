#!/usr/bin/perl
# SPDX-License-Identifier: MIT
# Reads a rendered manual page (mandoc -T utf8) and fails when its typographic quotes do
# not pair up: a quote opened inside another of the same kind, a closing one with none
# open, or one left open at the end. Nested quoting macros on one line (.Dq a , Dq b)
# render balanced in number but nested, which is what this catches.
# Usage: mandoc -T utf8 PAGE | check_man_quotes.pl PAGE
use strict;
use warnings;
binmode STDIN, ':encoding(UTF-8)';
binmode STDERR, ':encoding(UTF-8)';
my $page = $ARGV[0] // 'page';
my %pairs = ("\x{201C}" => "\x{201D}", "\x{2018}" => "\x{2019}");
my %closer = reverse %pairs;
my %open;    # opening quote => line where it was opened
my $errors = 0;
while (my $line = <STDIN>) {
  $line =~ s/.\x08//g;    # overstrike of bold and underlined text
  for my $char (split //, $line) {
    if (exists $pairs{$char}) {
      if (exists $open{$char}) {
        print STDERR "$page: line $.: a quote opened inside another (opened on line $open{$char}): $line";
        $errors++;
      }
      $open{$char} = $.;
    } elsif (exists $closer{$char}) {
      if (!exists $open{$closer{$char}}) {
        print STDERR "$page: line $.: a closing quote with none open: $line";
        $errors++;
      }
      delete $open{$closer{$char}};
    }
  }
}
for my $char (keys %open) {
  print STDERR "$page: a quote opened on line $open{$char} is never closed\n";
  $errors++;
}
exit($errors ? 1 : 0);
