# The Debian source packages the Windows libraries are built from, pinned to the versions
# the Linux build links (bookworm and bookworm-security). When Debian moves on, deps.sh
# stops and says so; raise the version here after checking the new one builds.
#
# NAME=VERSION  PATCHES: "debian" applies Debian's patch series (security fixes) minus the
# packaging-only patches listed in SKIP_PATCHES_NAME; "none" builds the upstream tarball
# as it is (OpenSSL: upstream releases carry the fixes, and Debian's .debian tarball of the
# security suite is not always downloadable; pugixml: its one patch is about the docs).
OPENSSL_VERSION=3.0.22-1~deb12u2
OPENSSL_PATCHES=none
CURL_VERSION=7.88.1-10+deb12u15
CURL_PATCHES=debian
# Build-system and packaging patches (curl-config, zsh completion, krb5/LDAP link flags,
# libtool as-needed) and the alternative TLS flavours Debian builds from the same tree.
SKIP_PATCHES_curl="04_workaround_as_needed_bug.patch 08_enable-zsh.patch
  build-Divide-mit-krb5-gssapi-link-flags-between-LDFLAGS-a.patch 11_omit-directories-from-config.patch
  Remove-curl-s-LDFLAGS-from-curl-config-static-libs.patch Use-OpenLDAP-specific-functionality.patch
  90_gnutls.patch 99_nss.patch"
LIBARCHIVE_VERSION=3.6.2-1+deb12u5
LIBARCHIVE_PATCHES=debian
SKIP_PATCHES_libarchive="iconv-pkgconfig.patch"
PUGIXML_VERSION=1.13-0.2
PUGIXML_PATCHES=none
