#include "nivalto/hal/hal_error.h"

#include <gtest/gtest.h>

namespace nivalto {
namespace {

TEST(HalError, ConstructorsSetKindAndMessageWithoutPrefix) {
  EXPECT_EQ(HalError::unavailable("a"), (HalError{HalErrorKind::Unavailable, "a"}));
  EXPECT_EQ(HalError::access_denied("b"), (HalError{HalErrorKind::AccessDenied, "b"}));
  EXPECT_EQ(HalError::invalid_data("c"), (HalError{HalErrorKind::InvalidData, "c"}));
  EXPECT_EQ(static_cast<int>(HalErrorKind::Unavailable), 0);
  EXPECT_EQ(static_cast<int>(HalErrorKind::AccessDenied), 1);
  EXPECT_EQ(static_cast<int>(HalErrorKind::InvalidData), 2);
}

TEST(HalError, DisplayIsTheKindPrefixFollowedDirectlyByTheMessage) {
  EXPECT_EQ(HalError::unavailable("table RSMB absente").display(),
            "ressource non disponible : table RSMB absente");
  EXPECT_EQ(HalError::access_denied("lecture de la table RSMB refusée").display(),
            "accès refusé : lecture de la table RSMB refusée");
  EXPECT_EQ(HalError::invalid_data("en-tête RSMB trop court").display(),
            "données invalides : en-tête RSMB trop court");
  EXPECT_EQ(HalError::invalid_data("").display(), "données invalides : ");
}

TEST(HalError, DisplayAppendsToTheSink) {
  std::string sink = "erreur : ";
  HalError::access_denied("x").display_to(sink);
  EXPECT_EQ(sink, "erreur : accès refusé : x");
}

}  // namespace
}  // namespace nivalto
